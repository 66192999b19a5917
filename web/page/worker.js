// The page's worker: owns the WebAssembly engine (Lua 5.1 with pelx04), so a
// long filter never freezes the page and a runaway script can be stopped by
// ending the worker. Every message gets exactly one reply.
/* global createPelx04, importScripts */
import { engineScript } from './engine_build.js';

const build = engineScript(self.location.search);
importScripts(build.script);

let engine = null;
const started = createPelx04().then((module) => {
  engine = module;
  if (!engine._pgStart()) throw new Error(hostError());
});

function hostError() {
  return engine.UTF8ToString(engine._pgHostError());
}

// B, G, R, A words to R, G, B, A bytes for display: swapped by the engine,
// then one copy out, never a view of the wasm memory.
function rgbaOf(pointer, width, height) {
  const bytes = width * height * 4;
  const copy = engine._pgRgbaOf(pointer, width * height);
  if (!copy) throw new Error('out of memory for the picture shown');
  return new Uint8ClampedArray(engine.HEAPU8.slice(copy, copy + bytes).buffer);
}

function inputPicture() {
  const width = engine._pgInputWidth();
  const height = engine._pgInputHeight();
  return { width, height, rgba: rgbaOf(engine._pgInput(), width, height) };
}

function load(message) {
  let ok;
  if (message.bytes) {
    const bytes = new Uint8Array(message.bytes);
    const pointer = engine._malloc(Math.max(bytes.length, 1));
    if (!pointer) return { error: 'out of memory for the file' };
    engine.HEAPU8.set(bytes, pointer);
    ok = engine._pgLoadImage(pointer, bytes.length);
    engine._free(pointer);
  } else {
    ok = engine._pgLoadTestCard();
  }
  if (!ok) return { error: hostError() };
  const input = inputPicture();
  return { input, transfer: [input.rgba.buffer] };
}

// A video frame becomes the input: a VideoFrame handed over by the page, or
// R, G, B, A bytes from the page's canvas where the browser has no VideoFrame.
// A frame at the size the page asks is converted to R, G, B, A straight into
// the input by the browser; one to be scaled (or a browser that cannot convert
// on copy) is drawn here and read back. Returns the picture as R, G, B, A for
// the page's "before", or null.
let frameCanvas = null;
let copyConverts = true;

function drawnFrame(frame, width, height) {
  if (!frameCanvas || frameCanvas.width !== width || frameCanvas.height !== height) {
    frameCanvas = new OffscreenCanvas(width, height);
  }
  const context = frameCanvas.getContext('2d', { willReadFrequently: true });
  context.drawImage(frame, 0, 0, width, height);
  return context.getImageData(0, 0, width, height).data;
}

async function setFrame(message) {
  const { width, height, frame } = message;
  const bytes = width * height * 4;
  const pointer = engine._pgInputBuffer(width, height);
  if (!pointer) {
    if (frame) frame.close();
    return null;
  }
  let rgba = null;
  try {
    const exact = frame && frame.displayWidth === width && frame.displayHeight === height &&
      frame.visibleRect && frame.visibleRect.width === width && frame.visibleRect.height === height;
    if (exact && copyConverts) {
      try {
        await frame.copyTo(engine.HEAPU8.subarray(pointer, pointer + bytes), { format: 'RGBA', colorSpace: 'srgb' });
        rgba = new Uint8ClampedArray(engine.HEAPU8.slice(pointer, pointer + bytes).buffer);
      } catch (error) {
        copyConverts = false;
      }
    }
    if (!rgba) {
      rgba = frame ? drawnFrame(frame, width, height) : new Uint8ClampedArray(message.rgba);
      engine.HEAPU8.set(rgba, pointer);
    }
  } finally {
    if (frame) frame.close();
  }
  engine._pgInputFromRgba();
  return { width, height, rgba };
}

const runStatus = { done: 0, scriptError: 1, badFrame: 2 };
const pastTheFrame = 'a filter ran past the end of the frame (a width or height larger than the frame ' +
  'it was given, e.g. frame.row(y) with too many rows); the engine was restarted and its state cleared';
const stackOverflow = 'the script overflowed the stack (calls nested too deeply inside the engine); ' +
  'the engine was restarted and its state cleared';

// The memory after the frame ends the wasm memory: running off it traps. The
// engine's stack running out throws instead (a RangeError; "too much
// recursion" in Firefox), which is no fault of the frame.
function trapMessage(trap) {
  const text = String(trap && trap.message || trap);
  const overflow = trap instanceof RangeError || /call stack|too much recursion/i.test(text);
  return (overflow ? stackOverflow : pastTheFrame) + ' [' + text + ']';
}

async function run(message) {
  const isFrame = Boolean(message.rgba || message.frame);
  const input = isFrame ? await setFrame(message) : null;
  if (isFrame && !input) return { error: hostError() };
  const ran = runScript(message);
  if (!input) return ran;
  return { ...ran, input, transfer: [input.rgba.buffer, ...(ran.transfer || [])] };
}

function runScript(message) {
  const text = new TextEncoder().encode(message.script);
  const pointer = engine._malloc(text.length + 1);
  if (!pointer) return { error: 'out of memory for the script' };
  engine.HEAPU8.set(text, pointer);
  const begin = performance.now();
  let status;
  try {
    status = engine._pgRun(pointer, text.length, message.index || 0, message.time || 0);
  } catch (trap) {
    return { fatal: true, error: trapMessage(trap) };
  }
  const ms = performance.now() - begin;
  engine._free(pointer);
  const output = engine.UTF8ToString(engine._pgOutput());
  if (status === runStatus.badFrame) return { fatal: true, error: pastTheFrame, output, ms };
  if (status === runStatus.scriptError) {
    const error = engine.UTF8ToString(engine._pgMessage());
    return { error, output, ms };
  }
  const result = rgbaOf(engine._pgResult(), engine._pgInputWidth(), engine._pgInputHeight());
  return { output, ms, width: engine._pgInputWidth(), height: engine._pgInputHeight(), rgba: result,
    transfer: [result.buffer] };
}

function png() {
  if (!engine._pgEncodePng()) return { error: hostError() };
  const pointer = engine._pgPng();
  const bytes = engine.HEAPU8.slice(pointer, pointer + engine._pgPngSize());
  return { png: bytes.buffer, transfer: [bytes.buffer] };
}

const handlers = { load, run, png, ping: () => ({ engine: build.name }) };

self.onmessage = (event) => {
  const message = event.data;
  started.then(async () => {
    const reply = await handlers[message.type](message);
    const transfer = reply.transfer || [];
    delete reply.transfer;
    reply.id = message.id;
    self.postMessage(reply, transfer);
  }).catch((failure) => {
    self.postMessage({ id: message.id, fatal: true, error: 'the engine failed: ' + String(failure && failure.message || failure) });
  });
};
