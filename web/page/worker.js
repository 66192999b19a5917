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

// B, G, R, A words to R, G, B, A bytes, swapped by the engine into a buffer it
// keeps (and shrunk by 2 or 4 in each direction for a video playing at that
// scale): a view of the wasm memory, valid until the next call.
function rgbaView(pointer, width, height, shrink = 1) {
  const copy = engine._pgRgbaOf(pointer, width, height, shrink);
  if (!copy) throw new Error('out of memory for the picture shown');
  return new Uint8ClampedArray(engine.HEAPU8.buffer, copy, Math.floor(width / shrink) * Math.floor(height / shrink) * 4);
}

// The words as R, G, B, A bytes of their own, for the export's encoder.
function rgbaOf(pointer, width, height) {
  return rgbaView(pointer, width, height).slice();
}

// The words as a picture for the page: drawn here and handed over as an
// ImageBitmap, which the page shows without a copy on its own thread.
const canvases = new Map(); // 'input' or 'result' -> OffscreenCanvas
function bitmapOf(pointer, width, height, which, shrink = 1) {
  if (width < shrink || height < shrink) shrink = 1;
  const rgba = rgbaView(pointer, width, height, shrink);
  const [w, h] = [Math.floor(width / shrink), Math.floor(height / shrink)];
  let canvas = canvases.get(which);
  if (!canvas || canvas.width !== w || canvas.height !== h) {
    canvas = new OffscreenCanvas(w, h);
    canvases.set(which, canvas);
  }
  canvas.getContext('2d').putImageData(new ImageData(rgba, w, h), 0, 0);
  return canvas.transferToImageBitmap();
}

function inputPicture(shrink = 1) {
  const width = engine._pgInputWidth();
  const height = engine._pgInputHeight();
  return { width, height, bitmap: bitmapOf(engine._pgInput(), width, height, 'input', shrink) };
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
  return { input, transfer: [input.bitmap] };
}

// A video frame becomes the input: a VideoFrame handed over by the page, or
// R, G, B, A bytes from the page's canvas where the browser has no VideoFrame.
// A frame at the size the page asks is converted to B, G, R, A words straight
// into the input by the browser (to R, G, B, A, then swapped, where it cannot
// give B, G, R, A); one to be scaled (or a browser that cannot convert on
// copy) is drawn here and read back. False when the input cannot be sized.
let frameCanvas = null;
let copyFormats = ['BGRA', 'RGBA'];

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
  const pointer = engine._pgInputBuffer(width, height);
  try {
    if (!pointer) return false;
    const into = engine.HEAPU8.subarray(pointer, pointer + width * height * 4);
    const exact = frame && frame.displayWidth === width && frame.displayHeight === height &&
      frame.visibleRect && frame.visibleRect.width === width && frame.visibleRect.height === height;
    while (exact && copyFormats.length) {
      try {
        await frame.copyTo(into, { format: copyFormats[0], colorSpace: 'srgb' });
        if (copyFormats[0] === 'RGBA') engine._pgInputFromRgba();
        return true;
      } catch (error) {
        copyFormats = copyFormats.slice(1);
      }
    }
    into.set(frame ? drawnFrame(frame, width, height) : new Uint8Array(message.rgba));
    engine._pgInputFromRgba();
    return true;
  } finally {
    if (frame) frame.close();
  }
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

// A video frame's reply carries its input picture too, unless it is for the
// export (message.asRgba: the result as R, G, B, A bytes for the encoder), and
// the milliseconds of its stages: the frame into the engine, the script, and
// the two pictures drawn.
async function run(message) {
  const isFrame = Boolean(message.rgba || message.frame);
  const begin = performance.now();
  if (isFrame && !await setFrame(message)) return { error: hostError() };
  const copiedIn = performance.now();
  const input = isFrame && !message.asRgba ? inputPicture(message.shrink) : null;
  const ran = runScript(message);
  if (!input) return ran;
  const script = ran.ms || 0;
  const stages = { copyIn: copiedIn - begin, script, copyOut: performance.now() - copiedIn - script };
  return { ...ran, input, stages, transfer: [input.bitmap, ...(ran.transfer || [])] };
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
  const width = engine._pgInputWidth();
  const height = engine._pgInputHeight();
  if (message.asRgba) {
    const rgba = rgbaOf(engine._pgResult(), width, height);
    return { output, ms, width, height, rgba, transfer: [rgba.buffer] };
  }
  const bitmap = bitmapOf(engine._pgResult(), width, height, 'result', message.shrink);
  return { output, ms, width, height, bitmap, transfer: [bitmap] };
}

// The words under the pointer, 0xAARRGGBB, in the input and in the last result
// (null where there is none).
function pixel({ x, y }) {
  const width = engine._pgInputWidth();
  if (x < 0 || y < 0 || x >= width || y >= engine._pgInputHeight()) return { before: null, after: null };
  const word = (pointer) => (pointer ? engine.HEAPU32[(pointer >>> 2) + y * width + x] : null);
  return { before: word(engine._pgInput()), after: word(engine._pgResult()) };
}

function png() {
  if (!engine._pgEncodePng()) return { error: hostError() };
  const pointer = engine._pgPng();
  const bytes = engine.HEAPU8.slice(pointer, pointer + engine._pgPngSize());
  return { png: bytes.buffer, transfer: [bytes.buffer] };
}

const handlers = { load, run, png, pixel, ping: () => ({ engine: build.name }) };

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
