// The playground page: editor, input, before and after, messages, examples,
// and the automation hook window.playground.
import examples from 'pelx04-examples';
import { Engine } from './engine.js';
import { makeEditor } from './editor.js';
import { Views } from './views.js';
import { VideoInput, previewSize } from './video.js';
import { exportVideo } from './export.js';
import { readScriptFile, saveScriptFile, shareScript } from './script_files.js';
import { sharedScript } from './share.js';

const $ = (id) => document.getElementById(id);
const engine = new Engine();
const views = new Views({
  stage: $('stage'), panes: [$('beforePane'), $('afterPane')], beforeCanvas: $('before'), afterCanvas: $('after'),
  split: $('split'), splitBox: $('splitBox'), zoom: $('zoom'), mode: $('mode'), readout: $('readout'),
  pixelAt: (x, y) => engine.request({ type: 'pixel', x, y }),
});

const firstExample = examples.find((example) => example.name === 'sepia') || examples[0];
let lastResult = null;
let runs = 0; // scripts run since the page opened
// The script the user last ran: video frames and exports run it, never the
// editor's text, so a script opened from a file or a link runs only on Run.
// Null until something ran; video frames then run an empty script.
let ranScript = null;

// Text that stays as it was is not set again: video frames call this 30 times a second.
function setText(element, text) {
  if (element.textContent !== text) element.textContent = text;
}

function showMessage(reply) {
  const error = reply.error || '';
  setText($('message'), error);
  $('message').hidden = !error;
  const line = /^script:(\d+):/.exec(error);
  editor.markLine(line ? Number(line[1]) : 0);
  setText($('output'), reply.output || '');
  if (reply.ms !== undefined) setText($('timing'), `${reply.ms.toFixed(1)} ms`);
}

// Runs the editor's script on the current still input, or on the video's
// frames from now on.
async function runScript(text = editor.text()) {
  ranScript = text;
  if (video.active) return video.refresh();
  runs++;
  $('run').disabled = true;
  const reply = await engine.run(text);
  $('run').disabled = false;
  showMessage(reply);
  if (reply.fatal) views.setAfter(null);
  else if (!reply.error) views.setAfter({ width: reply.width, height: reply.height, bitmap: reply.bitmap });
  lastResult = reply.error ? null : reply;
  $('download').disabled = !lastResult;
  return { error: reply.error || null, output: reply.output || '', ms: reply.ms === undefined ? null : reply.ms };
}

let typingTimer = null;
const editor = makeEditor($('editor'), firstExample.text, {
  onRun: () => runScript(),
  onChange: () => {
    if (!$('auto').checked) return;
    clearTimeout(typingTimer);
    typingTimer = setTimeout(() => runScript(), 600);
  },
});

const video = new VideoInput({
  element: $('video'), bar: $('videoBar'), play: $('play'), slider: $('seek'), label: $('frameLabel'),
  skipped: $('skipped'),
  onFrame: async (rgba, width, height, index, time) => {
    // An export has the engine and its state to itself.
    if (exportBusy) return;
    if (ranScript !== null) runs++;
    const handed = performance.now();
    // A playing video is drawn at the size it is seen; a paused one whole, to be zoomed.
    const shrink = video.element.paused ? 1 : views.shrink();
    const reply = await engine.runFrame(ranScript || '', rgba, width, height, index, time, { shrink });
    const replied = performance.now();
    showMessage(reply);
    if (reply.input) views.setBefore(reply.input);
    if (!reply.error) views.setAfter({ width: reply.width, height: reply.height, bitmap: reply.bitmap });
    video.addStages({ ...reply.stages, roundTrip: replied - handed, draw: performance.now() - replied });
    if (reply.error) return;
    lastResult = reply;
    $('download').disabled = false;
  },
});

async function loadStill(bytes, name) {
  video.stop();
  const reply = await engine.load(bytes);
  if (reply.error) {
    showMessage(reply);
    return { error: reply.error };
  }
  $('inputName').textContent = `${name} (${reply.input.width} × ${reply.input.height})`;
  views.setBefore(reply.input);
  views.setAfter(null);
  lastResult = null;
  $('download').disabled = true;
  return { width: reply.input.width, height: reply.input.height };
}

async function openFile(file) {
  if (!file) return;
  if (file.type.startsWith('video/')) {
    $('inputName').textContent = file.name;
    video.open(file);
    return;
  }
  await loadStill(await file.arrayBuffer(), file.name);
  await runScript();
}

async function resultPNG() {
  const reply = await engine.png();
  if (reply.error) throw new Error(reply.error);
  return new Uint8Array(reply.png);
}

function base64(bytes) {
  let text = '';
  for (let i = 0; i < bytes.length; i += 0x8000) text += String.fromCharCode(...bytes.subarray(i, i + 0x8000));
  return btoa(text);
}

// Examples: the scripts of examples/ and one per function.
$('examples').append(new Option('examples…', ''));
for (const group of ['Scripts', 'Functions']) {
  const optgroup = document.createElement('optgroup');
  optgroup.label = group;
  for (const example of examples.filter((e) => e.group === group)) {
    const option = new Option(example.name, example.name);
    option.title = example.title;
    optgroup.append(option);
  }
  $('examples').append(optgroup);
}
$('examples').value = firstExample.name;
$('examples').addEventListener('change', () => {
  const example = examples.find((e) => e.name === $('examples').value);
  if (!example) return;
  editor.setText(example.text);
  runScript();
});

$('run').addEventListener('click', () => runScript());
// Ctrl+Enter runs from anywhere on the page; the editor handles its own.
document.addEventListener('keydown', (event) => {
  if ((event.ctrlKey || event.metaKey) && event.key === 'Enter' && !editor.view.hasFocus) {
    event.preventDefault();
    runScript();
  }
});
$('testCard').addEventListener('click', async () => { await loadStill(null, 'test card'); await runScript(); });
$('file').addEventListener('change', () => openFile($('file').files[0]));
$('stage').addEventListener('dragover', (event) => event.preventDefault());
$('stage').addEventListener('drop', (event) => {
  event.preventDefault();
  openFile(event.dataTransfer.files[0]);
});
$('reset').addEventListener('click', async () => {
  await engine.reset();
  $('output').textContent = 'state reset: value table and picture store cleared';
  video.restartCount();
});
$('download').addEventListener('click', async () => {
  const bytes = await resultPNG();
  const link = document.createElement('a');
  link.href = URL.createObjectURL(new Blob([bytes], { type: 'image/png' }));
  link.download = 'pelx04-result.png';
  link.click();
  setTimeout(() => URL.revokeObjectURL(link.href), 1000);
});

// A script from a file or a link replaces the editor's and runs nothing: the
// user reads it first, then presses Run (or edits it, with "run as I type").
function showScript(text, note) {
  editor.setText(text);
  clearTimeout(typingTimer);
  $('examples').value = '';
  editor.markLine(0);
  $('message').hidden = true;
  $('output').textContent = note;
}

$('scriptFile').addEventListener('change', async () => {
  const file = $('scriptFile').files[0];
  $('scriptFile').value = '';
  if (!file) return;
  try {
    showScript(await readScriptFile(file), `${file.name} opened: press Run to run it`);
  } catch (error) {
    showMessage({ error: String(error.message || error) });
  }
});
$('saveScript').addEventListener('click', () => saveScriptFile(editor.text()));
$('share').addEventListener('click', async () => {
  const { note } = await shareScript(editor.text());
  $('output').textContent = note;
});

// Export: the engine starts from a clean state, as the frame runner does, and
// the preview waits.
let exporting = null;
let exportBusy = false; // from the pause before the reset to the end
async function exportOpenVideo() {
  if (!video.active || exportBusy) return null;
  exportBusy = true;
  video.element.pause();
  await engine.reset();
  const script = ranScript || '';
  $('export').disabled = true;
  $('exportProgress').hidden = false;
  $('exportProgress').value = 0;
  $('exportCancel').hidden = false;
  $('exportLeft').textContent = 'exporting…';
  exporting = exportVideo(video.file, {
    size: previewSize,
    runFrame: (frame, width, height, index, time) =>
      engine.runFrame(script, frame, width, height, index, time, { asRgba: true }),
    onProgress: (share, left) => {
      $('exportProgress').value = share;
      $('exportLeft').textContent = `${Math.round(share * 100)} %` +
        (left === null ? '' : `, about ${Math.ceil(left)} s left`);
    },
  });
  try {
    const result = await exporting.done;
    $('exportLeft').textContent = result ? `exported ${result.frames} frames` : 'export cancelled';
    $('output').textContent = result ? [`${result.name}: ${result.frames} frames`, ...result.notes].join('\n') : '';
    return result;
  } catch (error) {
    $('exportLeft').textContent = 'export failed';
    showMessage({ error: String(error.message || error) });
    throw error;
  } finally {
    exporting = null;
    exportBusy = false;
    $('export').disabled = false;
    $('exportProgress').hidden = true;
    $('exportCancel').hidden = true;
  }
}

function download(blob, name) {
  const link = document.createElement('a');
  link.href = URL.createObjectURL(blob);
  link.download = name;
  link.click();
  setTimeout(() => URL.revokeObjectURL(link.href), 1000);
}

$('export').addEventListener('click', async () => {
  const result = await exportOpenVideo().catch(() => null);
  if (result) download(result.blob, result.name);
});
$('exportCancel').addEventListener('click', () => { if (exporting) exporting.cancel(); });

// Opens the script of a share link, if the address has one: true if it did,
// the Error shown if the link was refused, null without a link.
async function openSharedScript() {
  const shared = await sharedScript();
  if (shared === null) return null;
  if (shared instanceof Error) {
    showMessage({ error: shared.message });
    return shared;
  }
  showScript(shared, 'a shared script: read it, then press Run to run it');
  return true;
}
window.addEventListener('hashchange', () => openSharedScript());

// For scripts and tests driving the page.
window.playground = {
  load: async (bytes) => {
    const result = await loadStill(bytes ? new Uint8Array(bytes).slice().buffer : null, bytes ? 'loaded file' : 'test card');
    if (result.error) throw new Error(result.error);
    return result;
  },
  run: (text) => {
    editor.setText(text);
    $('examples').value = '';
    clearTimeout(typingTimer);
    return runScript(text);
  },
  resultPNG: async () => base64(await resultPNG()),
  // Exports the open video with the script last run: { base64, name, frames, notes }.
  exportVideo: async () => {
    const result = await exportOpenVideo();
    if (!result) return null;
    return { base64: base64(new Uint8Array(await result.blob.arrayBuffer())), name: result.name,
      frames: result.frames, notes: result.notes };
  },
  // What the page shows, for tests: the editor's text and whether anything ran.
  state: () => ({ text: editor.text(), runs, engine: engineName,
    video: { handed: video.handed, skipped: video.skipped, stages: video.stages } }),
};

let engineName = '';
(async () => {
  const fromLink = await openSharedScript();
  const reply = await engine.start();
  if (reply.error) {
    showMessage(reply);
    return;
  }
  $('inputName').textContent = `test card (${reply.input.width} × ${reply.input.height})`;
  views.setBefore(reply.input);
  engineName = (await engine.request({ type: 'ping' })).engine || '';
  $('engineName').textContent = engineName === 'scalar' ? 'scalar engine (no WebAssembly vectors here)' : '';
  // Ready once the engine is up with its input: a test's first run queues
  // behind the example's start-up run, if there is one.
  document.body.dataset.ready = 'true';
  if (fromLink === true) return;
  await runScript();
  // A refused link still says why, after the example's run.
  if (fromLink) showMessage({ error: fromLink.message });
})();
