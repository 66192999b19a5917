// Share links: the script, deflated and in base64url, in the page address's
// fragment (#script=...). A fragment never leaves the browser, so nothing is
// sent anywhere; the page reads it back when it opens.
import { maxScriptBytes, maxScriptSize } from './script_size.js';

const key = 'script';
// Deflate turns one byte into at most about 1,032: fed this much at a time,
// the inflated bytes pass the cap by at most a megabyte before it is seen.
const inflateStep = 1024;

function toBase64Url(bytes) {
  let text = '';
  for (let i = 0; i < bytes.length; i += 0x8000) text += String.fromCharCode(...bytes.subarray(i, i + 0x8000));
  return btoa(text).replace(/\+/g, '-').replace(/\//g, '_').replace(/=+$/, '');
}

function fromBase64Url(text) {
  const binary = atob(text.replace(/-/g, '+').replace(/_/g, '/'));
  return Uint8Array.from(binary, (c) => c.charCodeAt(0));
}

async function through(stream, bytes) {
  const out = new Blob([bytes]).stream().pipeThrough(stream);
  return new Uint8Array(await new Response(out).arrayBuffer());
}

// The inflated bytes, or null as soon as they pass `limit` bytes: the link is
// fed in small steps and the output counted as it arrives, so a deflate bomb
// costs no more than the cap.
async function inflate(bytes, limit) {
  const stream = new DecompressionStream('deflate');
  const writer = stream.writable.getWriter();
  const reader = stream.readable.getReader();
  let over = false;
  const feeding = (async () => {
    for (let at = 0; at < bytes.length && !over; at += inflateStep) {
      await writer.write(bytes.subarray(at, at + inflateStep));
    }
    if (!over) await writer.close();
  })();
  feeding.catch(() => {}); // a damaged stream fails the reader too, and is reported there
  const chunks = [];
  let size = 0;
  for (;;) {
    const { done, value } = await reader.read();
    if (done) break;
    size += value.length;
    if (size > limit) {
      over = true;
      await reader.cancel();
      return null;
    }
    chunks.push(value);
  }
  await feeding;
  const whole = new Uint8Array(size);
  let at = 0;
  for (const chunk of chunks) {
    whole.set(chunk, at);
    at += chunk.length;
  }
  return whole;
}

// The address of this page with the script in its fragment.
export async function shareLink(script) {
  const packed = await through(new CompressionStream('deflate'), new TextEncoder().encode(script));
  const url = new URL(location.href);
  url.hash = `${key}=${toBase64Url(packed)}`;
  return url.href;
}

// The script in a fragment, null when there is none, an Error when it is
// damaged (a link cut short when it was copied, most often) or too large.
export async function sharedScript(hash = location.hash) {
  const value = new URLSearchParams(hash.replace(/^#/, '')).get(key);
  if (value === null) return null;
  try {
    const bytes = await inflate(fromBase64Url(value), maxScriptBytes);
    if (bytes !== null) return new TextDecoder('utf-8', { fatal: true }).decode(bytes);
  } catch (error) {
    return new Error('the shared link is damaged (cut short when it was copied?): its script cannot be read');
  }
  return new Error(`the shared script is too large (more than ${maxScriptSize}): it was not opened`);
}
