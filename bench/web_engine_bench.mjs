// Times every pixel function in the playground's engines under Node, on the
// 1920 x 1080 test card, called from Lua as a page script calls it. A run of
// the engine copies the input into the frame and starts the script, so each
// function is called `calls` times in one run and the time of a run that
// calls nothing is taken off; each figure is the median of `rounds` runs, in
// CPU time of the process (as the native benchmark reports), so that other
// work on the machine moves it less than it moves the clock.
// Usage: node --no-experimental-fetch bench/web_engine_bench.mjs ENGINE_JS... [--rounds N] [--only REGEX]
import { createRequire } from 'node:module';
import { resolve } from 'node:path';

const args = process.argv.slice(2);
const roundsAt = args.indexOf('--rounds');
const rounds = roundsAt >= 0 ? Number(args.splice(roundsAt, 2)[1]) : 9;
const onlyAt = args.indexOf('--only');
const only = new RegExp(onlyAt >= 0 ? args.splice(onlyAt, 2)[1] : '');
const engines = args;
const calls = 10;

// Rows as the native benchmark names them (bench/pelx04_bench.cpp), with its
// arguments after buffer, width and height.
const cases = [
  ['mirtRGB', 'mirtRGB', '10, -20, 30, 0'],
  ...[0, 1, 2, 3, 4, 5, 6, 7].map((m) => [`mirtToneCurve mode ${m}`, 'mirtToneCurve', String(m)]),
  ['mirtToneCurveHSV', 'mirtToneCurveHSV', '2'],
  ['mirtHSV', 'mirtHSV', '30, 10, -10'],
  ...[0, 1, 2, 3].map((m) => [`mirtHistgram mode ${m}`, 'mirtHistgram', String(m)]),
  ['mirtYPbPr', 'mirtYPbPr', '10, 5, -5, 0'],
  ['mirtGradation256', 'mirtGradation256', '64, 85, 85, 85'],
  ['mirtMixPict0', 'mirtMixPict0', ''],
  ['mirtMixPict1', 'mirtMixPict1', '0.3'],
  ['mirtheitan colour', 'mirtheitan', '64, 0, 0, 0, 0'],
  ['mirtheitan grey', 'mirtheitan', '32, 0, 0, 0, 1'],
  ...[1, 2, 3, 4, 5, 6, 7, 8].map((m) => [`mirtRGB2GRA mode ${m}`, 'mirtRGB2GRA', `${m}, 10, 0`]),
  ['mirtRGB2CONV', 'mirtRGB2CONV', '1, 10, 0, -10'],
  ['mirtGanma', 'mirtGanma', '1000, 2.2, 1, 0.4545'],
  ['mirtHsvHeitan', 'mirtHsvHeitan', '32, 32, 32, 0'],
  ['mirtOgtoHsv', 'mirtOgtoHsv', '8, 0, 1'],
];

const median = (values) => values.slice().sort((a, b) => a - b)[values.length >> 1];

async function timeEngine(engineJs) {
  const engine = await createRequire(import.meta.url)(resolve(engineJs))();
  if (!engine._pgStart() || !engine._pgLoadTestCard()) throw new Error(`${engineJs}: the engine did not start`);
  const run = (source) => {
    const bytes = new TextEncoder().encode(source);
    const pointer = engine._malloc(bytes.length + 1);
    engine.HEAPU8.set(bytes, pointer);
    const begin = process.cpuUsage();
    const status = engine._pgRun(pointer, bytes.length, 0, 0);
    const used = process.cpuUsage(begin);
    const ms = (used.user + used.system) / 1000;
    engine._free(pointer);
    if (status !== 0) throw new Error(`${source}: ${engine.UTF8ToString(engine._pgMessage())}`);
    return ms;
  };
  // A curve for the table-driven filters and a picture in the store, as the
  // native benchmark has them.
  run('for c = 0, 359 do pelx04.mirtCVSave(c, (c * 7) % 61 - 30, 0) end ' +
    'pelx04.mirtMixPict0(frame.data, frame.width, frame.height)');
  const empty = () => run('local f = frame');
  const times = {};
  for (const [label, name, rest] of cases.filter(([label]) => only.test(label))) {
    const call = `pelx04.${name}(f.data, f.width, f.height${rest ? ', ' + rest : ''})`;
    const script = `local f = frame for i = 1, ${calls} do ${call} end`;
    run(script);
    const samples = [];
    for (let r = 0; r < rounds; r++) samples.push((run(script) - empty()) / calls);
    times[label] = median(samples);
  }
  return times;
}

const results = [];
for (const engineJs of engines) results.push(await timeEngine(engineJs));
console.log(`| function | ${engines.map((e) => e.replace(/.*\//, '')).join(' ms | ')} ms |`);
console.log(`|---|${engines.map(() => '---:').join('|')}|`);
for (const [label] of cases.filter(([l]) => only.test(l))) {
  console.log(`| ${label} | ${results.map((r) => r[label].toFixed(3)).join(' | ')} |`);
}
