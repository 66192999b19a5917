// Share links: the script, deflated and in base64url, in the page address's
// fragment (#script=...). A fragment never leaves the browser, so nothing is
// sent anywhere; the page reads it back when it opens.
const key = 'script';

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

// The address of this page with the script in its fragment.
export async function shareLink(script) {
  const packed = await through(new CompressionStream('deflate'), new TextEncoder().encode(script));
  const url = new URL(location.href);
  url.hash = `${key}=${toBase64Url(packed)}`;
  return url.href;
}

// The script in a fragment, null when there is none, an Error when it is
// damaged (a link cut short when it was copied, most often).
export async function sharedScript(hash = location.hash) {
  const value = new URLSearchParams(hash.replace(/^#/, '')).get(key);
  if (value === null) return null;
  try {
    return new TextDecoder('utf-8', { fatal: true }).decode(
      await through(new DecompressionStream('deflate'), fromBase64Url(value)));
  } catch (error) {
    return new Error('the shared link is damaged (cut short when it was copied?): its script cannot be read');
  }
}
