// The page's side of the worker: one request at a time, a time limit on each,
// and a fresh worker (with the current input loaded again) whenever a run
// overstays the limit, damages memory past its frame, or the user resets state.

export const timeLimitMs = 10000;

export class Engine {
  constructor() {
    this.worker = null;
    this.nextId = 1;
    this.pending = null;
    this.queue = Promise.resolve();
    this.inputBytes = null; // null: the built-in test card
    this.busy = false;
  }

  async start() {
    this.spawn();
    return this.load(this.inputBytes);
  }

  spawn() {
    if (this.worker) this.worker.terminate();
    this.worker = new Worker('worker.js' + location.search);
    this.worker.onmessage = (event) => this.settle(event.data);
    this.worker.onerror = (event) => this.settle({ fatal: true, error: 'the engine failed: ' + event.message });
  }

  settle(reply) {
    const pending = this.pending;
    if (!pending || (reply.id !== undefined && reply.id !== pending.id)) return;
    clearTimeout(pending.timer);
    this.pending = null;
    pending.resolve(reply);
  }

  // Requests run one after another; a reply that never comes within the
  // limit ends the worker.
  request(message, transfer = [], limitMs = timeLimitMs) {
    const next = this.queue.then(() => new Promise((resolve) => {
      const id = this.nextId++;
      const timer = setTimeout(() => {
        this.settle({ id, fatal: true, timedOut: true,
          error: `the script was stopped after ${limitMs / 1000} s (the page's time limit); ` +
            'the engine was restarted and its state cleared' });
      }, limitMs);
      this.pending = { id, resolve, timer };
      this.busy = true;
      this.worker.postMessage({ ...message, id }, transfer);
    })).then(async (reply) => {
      this.busy = false;
      if (reply.fatal) await this.restart();
      return reply;
    });
    this.queue = next.catch(() => {});
    return next;
  }

  // A new worker: fresh memory, empty value table and picture store.
  async restart() {
    this.spawn();
    const id = this.nextId++;
    await new Promise((resolve) => {
      this.pending = { id, resolve, timer: null };
      this.worker.postMessage({ type: 'load', id, bytes: this.inputBytes ? this.inputBytes.slice(0) : null });
    });
  }

  // bytes: an image file's contents (ArrayBuffer), or null for the test card.
  load(bytes) {
    this.inputBytes = bytes;
    return this.request({ type: 'load', bytes: bytes ? bytes.slice(0) : null });
  }

  run(script, index = 0, time = 0) {
    return this.request({ type: 'run', script, index, time });
  }

  // A video frame becomes the input and the script runs on it: a VideoFrame
  // (handed over, drawn at width × height by the worker) or R, G, B, A bytes.
  // The reply shows both pictures (shrunk by `shrink` in each direction: 1, 2
  // or 4), or with asRgba gives the result's bytes.
  runFrame(script, picture, width, height, index, time, { asRgba = false, shrink = 1 } = {}) {
    const isFrame = typeof VideoFrame !== 'undefined' && picture instanceof VideoFrame;
    const message = { type: 'run', script, width, height, index, time, asRgba, shrink };
    if (isFrame) message.frame = picture; else message.rgba = picture.buffer;
    return this.request(message, [isFrame ? picture : picture.buffer]);
  }

  png() {
    return this.request({ type: 'png' });
  }

  // Waits for the request in flight, like any other request.
  reset() {
    const next = this.queue.then(() => this.restart());
    this.queue = next.catch(() => {});
    return next;
  }
}
