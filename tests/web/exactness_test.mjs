// The WebAssembly build against the native one: frames of random words
// (transparent and partly transparent pixels included) go through every
// function, once in the page's engine under Node and once through the frame
// runner's raw mode, and must come back word for word the same; what the
// scripts print must match too. Then the sandbox's limits must hold, and a
// filter sent past its frame must be caught, never reported as a good result,
// nor a stack overflow reported as one.
// Usage: node --no-experimental-fetch exactness_test.mjs ENGINE_JS PELX04_RUN WORK_DIR
import { spawnSync } from 'node:child_process';
import { readFileSync, writeFileSync, mkdirSync } from 'node:fs';
import { createRequire } from 'node:module';
import { join } from 'node:path';
import vm from 'node:vm';

const [engineJs, runner, work] = process.argv.slice(2);
const createPelx04 = createRequire(import.meta.url)(engineJs);
const width = 257;
const height = 61;
const frameBytes = width * height * 4;

// Each frame runs one row of this table, chosen by frame.index; rows that
// fill the value table come before the filters that read it, as a script
// would order them, and the state carries over from frame to frame.
const script = `
local f = frame
local p = pelx04
local function curve(scale) for c = 0, 359 do p.mirtCVSave(c, (c * scale) % 97 - 48, 0) end end
local cases = {
  function() p.mirtRGB(f.data, f.width, f.height, 20, -30, 255, -100) end,
  function() p.mirtRGB(f.data, f.width, f.height, -7, 3, 0, 9) end,
  function() curve(7) p.mirtToneCurve(f.data, f.width, f.height, 0) end,
  function() p.mirtToneCurve(f.data, f.width, f.height, 5) end,
  function() p.mirtToneCurve(f.data, f.width, f.height, 7) end,
  function() curve(13) p.mirtToneCurveHSV(f.data, f.width, f.height, 0) end,
  function() p.mirtToneCurveHSV(f.data, f.width, f.height, 1) end,
  function() p.mirtToneCurveHSV(f.data, f.width, f.height, 2) end,
  function() p.mirtHSV(f.data, f.width, f.height, 0, 0, 0) end,
  function() p.mirtHSV(f.data, f.width, f.height, 137, -40, 25) end,
  function() p.mirtHSV(f.data, f.width, f.height, -400, 300, -300) end,
  function() p.mirtHistgram(f.data, f.width, f.height, 0)
    for v = 0, 255, 5 do print("h0", v, p.mirtCVSave(v, 0, 1)) end end,
  function() p.mirtHistgram(f.data, f.width, f.height, 2)
    for v = 0, 255, 7 do print("h2", v, p.mirtCVSave(v, 0, 1)) end end,
  function() p.mirtYPbPr(f.data, f.width, f.height, 0, 0, 0, 0) end,
  function() p.mirtYPbPr(f.data, f.width, f.height, 30, -20, 15, -3) end,
  function() p.mirtGradation256(f.data, f.width, f.height, 32, 36, 20, 300) end,
  function() p.mirtGradation256(f.data, f.width, f.height, 0, 1, 1, 1) end,
  function() p.mirtMixPict0(f.data, f.width, f.height) end,
  function() p.mirtMixPict1(f.data, f.width, f.height, 0.3) end,
  function() p.mirtMixPict1(f.data, f.width, f.height, 1.7) end,
  function() p.mirtheitan(f.data, f.width, f.height, 0, 64, 50, 33, 0) end,
  function() p.mirtheitan(f.data, f.width, f.height, 40, 0, 0, 0, 1) end,
  function() p.mirtheitan(f.data, f.width, f.height, 24, 0, 0, 0, 0) end,
  function() p.mirtRGB2GRA(f.data, f.width, f.height, 4, 10, 0) end,
  function() p.mirtRGB2GRA(f.data, f.width, f.height, 5, -5, 1) end,
  function() p.mirtRGB2GRA(f.data, f.width, f.height, 6, 0, 0) end,
  function() p.mirtRGB2GRA(f.data, f.width, f.height, 7, 0, 1) end,
  function() p.mirtRGB2GRA(f.data, f.width, f.height, 8, 0, 0) end,
  function() p.mirtRGB2CONV(f.data, f.width, f.height, 1, 10, -10, 5) end,
  function() p.mirtRGB2CONV(f.data, f.width, f.height, 4, 0, 0, 0) end,
  function() p.mirtRGB2CONV(f.data, f.width, f.height, 9, 0, 0, 0) end,
  function() p.mirtGanma(f.data, f.width, f.height, 1000, 2.2, 1, 0.4545) end,
  function() p.mirtGanma(f.data, f.width, f.height, 100, 0.05, 0.3, 0.011) end,
  function() p.mirtHsvHeitan(f.data, f.width, f.height, 64, 32, 48, 90) end,
  function() p.mirtHsvHeitan(f.data, f.width, f.height, 0, 0, 0, -30) end,
  function() curve(3) p.mirtOgtoHsv(f.data, f.width, f.height, 6, 0, 1) end,
  function() p.mirtOgtoHsv(f.data, f.width, f.height, 4, 1, 2) end,
  function() p.mirtOgtoHsv(f.data, f.width, f.height, 7, 2, 3) end,
  function() print(type(p.daytime()), #p.daytime()) end,
}
cases[f.index % #cases + 1]()
`;
const frameCount = 39;

// Words from a fixed xorshift: a quarter transparent, a quarter opaque, the
// rest any alpha.
function makeFrames() {
  const bytes = new Uint8Array(frameBytes * frameCount);
  let state = 0x2545f491;
  for (let i = 0; i < bytes.length; i += 4) {
    state ^= state << 13; state >>>= 0;
    state ^= state >>> 17;
    state ^= state << 5; state >>>= 0;
    bytes[i] = state & 255;
    bytes[i + 1] = (state >>> 8) & 255;
    bytes[i + 2] = (state >>> 16) & 255;
    const kind = (state >>> 24) & 3;
    bytes[i + 3] = kind === 0 ? 0 : kind === 1 ? 255 : (state >>> 26) & 255;
  }
  return bytes;
}

let passed = 0;
let failed = 0;
function check(ok, what) {
  if (ok) passed++; else { failed++; console.log(`FAIL ${what}`); }
}

mkdirSync(work, { recursive: true });
const scriptPath = join(work, 'exactness.lua');
writeFileSync(scriptPath, script);
const frames = makeFrames();

const native = spawnSync(runner, ['--raw', `${width}x${height}`, '--quiet', scriptPath],
  { input: frames, maxBuffer: frames.length * 2 });
check(native.status === 0 && native.stdout.length === frames.length,
  `native raw run (exit ${native.status}): ${String(native.stderr).slice(0, 400)}`);

const engine = await createPelx04();
check(engine._pgStart() === 1, 'engine start');
const text = new TextEncoder().encode(script);
const scriptPointer = engine._malloc(text.length);
engine.HEAPU8.set(text, scriptPointer);
let printed = '';
for (let index = 0; index < frameCount; index++) {
  const input = engine._pgInputBuffer(width, height);
  engine.HEAPU8.set(frames.subarray(index * frameBytes, (index + 1) * frameBytes), input);
  const status = engine._pgRun(scriptPointer, text.length, index, 0);
  printed += engine.UTF8ToString(engine._pgOutput());
  if (status !== 0) {
    check(false, `frame ${index}: ${engine.UTF8ToString(engine._pgMessage())}`);
    continue;
  }
  const result = engine.HEAPU8.subarray(engine._pgResult(), engine._pgResult() + frameBytes);
  const expected = native.stdout.subarray(index * frameBytes, (index + 1) * frameBytes);
  let first = -1;
  for (let i = 0; i < frameBytes && first < 0; i += 4) {
    if (result[i] !== expected[i] || result[i + 1] !== expected[i + 1] ||
        result[i + 2] !== expected[i + 2] || result[i + 3] !== expected[i + 3]) first = i / 4;
  }
  check(first < 0, `frame ${index}: first differing word at pixel ${first}`);
}
const nativePrinted = String(native.stderr);
check(printed.length > 200 && printed === nativePrinted,
  `printed text differs:\n--- wasm\n${printed.slice(0, 300)}\n--- native\n${nativePrinted.slice(0, 300)}`);

function runText(source) {
  const bytes = new TextEncoder().encode(source);
  const pointer = engine._malloc(bytes.length);
  engine.HEAPU8.set(bytes, pointer);
  try {
    return engine._pgRun(pointer, bytes.length, 0, 0);
  } catch (trap) {
    return 'trap';
  }
}

// Lua 5.1 does not collect garbage when an allocation fails: the host must, or
// every run after one that ran out of memory fails too.
engine._pgInputBuffer(width, height);
check(runText('local t = {} for i = 1, 1e8 do t[i] = i end') === 1 &&
      runText('local t = {} for i = 1, 1e6 do t[i] = i end') === 0,
  'a run after one that ran out of Lua memory has its memory back');

// The sandbox's limits hold in the page's engine too: a pattern deep enough to
// overflow the stack is refused, one that backtracks pays for its steps, and
// short coroutines share the run's budget.
check(runText(`assert(('a'):rep(1000):find(('a?'):rep(1000)))`) === 0 &&
      runText(`string.find('a', ('a?'):rep(1e6))`) === 1 &&
      engine.UTF8ToString(engine._pgMessage()).includes('is too complex'),
  'a pattern past the depth limit is refused');
check(runText(`return ('a'):rep(40):find(('a?'):rep(40) .. ('a'):rep(40))`) === 1 &&
      engine.UTF8ToString(engine._pgMessage()).includes('instruction limit of 200000000'),
  'a pattern that backtracks stops at the instruction limit');
check(runText('for i = 1, 3e5 do coroutine.wrap(function() for j = 1, 900 do end end)() end') === 1 &&
      engine.UTF8ToString(engine._pgMessage()).includes('instruction limit of 200000000'),
  'coroutines share the instruction budget');

// Files the page must refuse with a message: nothing, not an image, a PNG
// header past stb's own limit, and one past the page's.
function pngHeader(width, height) {
  const bytes = new Uint8Array(33);
  bytes.set([0x89, 0x50, 0x4e, 0x47, 0x0d, 0x0a, 0x1a, 0x0a, 0, 0, 0, 13, 0x49, 0x48, 0x44, 0x52]);
  const view = new DataView(bytes.buffer);
  view.setUint32(16, width);
  view.setUint32(20, height);
  bytes.set([8, 6, 0, 0, 0], 24);
  return bytes;
}
for (const [name, bytes, message] of [
  ['an empty file', new Uint8Array(0), 'not an image'],
  ['text', new TextEncoder().encode('print("hello")'), 'not an image'],
  ['a 65536 x 65536 PNG', pngHeader(65536, 65536), 'not an image'],
  ['an 8192 x 8192 PNG', pngHeader(8192, 8192), 'larger than the page'],
]) {
  const pointer = engine._malloc(Math.max(bytes.length, 1));
  engine.HEAPU8.set(bytes, pointer);
  const loaded = engine._pgLoadImage(pointer, bytes.length);
  const error = engine.UTF8ToString(engine._pgHostError());
  check(loaded === 0 && error.includes(message), `${name} is refused: ${loaded} ${error}`);
}

// Past the frame: two rows land in the canary, more run off the end of memory
// and trap, a read as well as a write. None may come back as a result.
engine._pgInputBuffer(width, height);
check(runText('pelx04.mirtRGB(frame.row(frame.height - 1), frame.width, 3, 9, 9, 9, 0)') === 2,
  'a filter two rows past the frame is reported as a bad frame');
check(runText('pelx04.mirtRGB(frame.row(frame.height - 1), frame.width, 1e6, 9, 9, 9, 0)') === 'trap',
  'a filter far past the frame traps');
check(runText('pelx04.mirtHistgram(frame.row(frame.height - 1), frame.width, 4, 0)') === 'trap',
  'a histogram three rows past the frame traps');

// The page's worker, with most of the stack already used (as in a worker with
// a small stack), must name a stack overflow as such, not as a filter past the
// frame. Last: a throw through the engine leaves its Lua state unusable. The
// worker's source is a module that the page's bundle resolves; here its one
// import is stood in for, so that it runs as a plain script around this engine.
const worker = vm.createContext({ importScripts() {}, createPelx04: async () => engine,
  engineScript: () => ({ script: 'pelx04.js', name: 'test' }), self: { location: { search: '' } }, TextEncoder,
  performance });
const workerSource = readFileSync(new URL('../../web/page/worker.js', import.meta.url), 'utf8');
vm.runInContext(workerSource.replace(/^import .*$/gm, ''), worker);
await new Promise((resolve) => setTimeout(resolve, 0));
let jsFrames = 0;
const descend = (depth, action) => { jsFrames++; return depth > 0 ? descend(depth - 1, action) : action(); };
try { descend(Infinity, () => 0); } catch { /* jsFrames now holds the stack's depth */ }
const stackDepth = jsFrames;
// 190 nested calls around a match of 1,000 levels take about 330 KB of V8's
// 984 KB; a thousand frames of descend leave far less than that.
const deepScript = 'local function f(n) if n > 0 then pcall(f, n - 1) else ' +
  '(\'a\'):rep(1000):find((\'a?\'):rep(1000)) end end f(190)';
const overflow = descend(stackDepth - 1000, () => worker.runScript({ script: deepScript }));
check(/overflowed the stack/.test(overflow.error) && !/past the end/.test(overflow.error),
  `a stack overflow is named as such: ${overflow.error}`);

console.log(`${passed} passed, ${failed} failed`);
process.exit(failed === 0 ? 0 : 1);
