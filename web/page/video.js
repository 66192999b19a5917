// A video file played by the browser's own decoder. Each frame it presents is
// handed to the worker as a VideoFrame (no copy on this thread; the worker
// has it converted into the engine's memory), or, in a browser without
// VideoFrame, copied off a canvas; a frame that arrives while the script is still busy with the
// previous one is skipped and counted. frame.index counts the frames handed
// to the script, frame.time is the video's time.

const maxPixels = 4096 * 2048;

// The size a video is previewed (and exported) at: its own, or scaled down to
// the page's pixel limit, to even sizes there (video encoders want them).
export function previewSize(width, height) {
  if (width * height <= maxPixels) return { width, height };
  const scale = Math.sqrt(maxPixels / (width * height));
  const even = (size) => Math.max(2, 2 * Math.floor(size * scale / 2));
  return { width: even(width), height: even(height) };
}

export class VideoInput {
  constructor({ element, bar, play, slider, label, skipped, onFrame }) {
    Object.assign(this, { element, bar, play, slider, label, skippedLabel: skipped, onFrame });
    this.active = false;
    this.busy = false;
    this.handed = 0;
    this.skipped = 0;
    this.stages = { frames: 0 };
    this.canvas = document.createElement('canvas');
    this.play.addEventListener('click', () => {
      if (this.element.paused) this.element.play(); else this.element.pause();
    });
    this.slider.addEventListener('input', () => {
      this.element.currentTime = Number(this.slider.value) / 1000 * (this.element.duration || 0);
    });
    this.element.addEventListener('seeked', () => { if (this.element.paused) this.refresh(); });
    this.element.addEventListener('play', () => { this.play.textContent = 'Pause'; });
    this.element.addEventListener('pause', () => {
      this.play.textContent = 'Play';
      this.refresh();
    });
    this.element.addEventListener('loadeddata', () => this.refresh());
  }

  open(file) {
    this.stop();
    this.file = file;
    this.active = true;
    this.bar.hidden = false;
    this.restartCount();
    this.element.src = URL.createObjectURL(file);
    this.element.muted = true;
    this.element.loop = true;
    this.element.play().catch(() => {});
    this.watch();
  }

  stop() {
    if (!this.active) return;
    this.active = false;
    this.bar.hidden = true;
    this.element.pause();
    URL.revokeObjectURL(this.element.src);
    this.element.removeAttribute('src');
    this.element.load();
  }

  restartCount() {
    this.handed = 0;
    this.skipped = 0;
  }

  // Milliseconds a frame spent in each stage, added up over the frames run,
  // for bench/web_video_skips.py.
  addStages(stages) {
    this.stages.frames++;
    for (const [stage, ms] of Object.entries(stages)) this.stages[stage] = (this.stages[stage] || 0) + ms;
  }

  watch() {
    if (!this.active) return;
    this.element.requestVideoFrameCallback((now, metadata) => {
      if (!this.element.paused) this.handle(metadata.mediaTime);
      this.watch();
    });
  }

  // Runs the script again on the frame on screen (after a seek, on pause, or
  // when the script changed).
  refresh() {
    return this.handle(this.element.currentTime, true);
  }

  async handle(time, always = false) {
    if (!this.active) return;
    if (this.busy) {
      if (always) this.refreshWanted = true; else this.skipped++;
      this.showLabel(time);
      return;
    }
    const { videoWidth: width, videoHeight: height } = this.element;
    if (!width || !height) return;
    const { width: w, height: h } = previewSize(width, height);
    const picture = this.grab(w, h, time);
    if (!picture) return;
    this.busy = true;
    const index = this.handed++;
    this.showLabel(time, index);
    try {
      await this.onFrame(picture, w, h, index, time);
    } finally {
      this.busy = false;
    }
    if (this.refreshWanted) {
      this.refreshWanted = false;
      await this.refresh();
    }
  }

  grab(w, h, time) {
    if (typeof VideoFrame !== 'undefined') {
      try {
        return new VideoFrame(this.element, { timestamp: Math.round(time * 1e6) });
      } catch (error) {
        // No frame to take yet (the video is still loading): the canvas path
        // below reads what the element shows.
      }
    }
    this.canvas.width = w;
    this.canvas.height = h;
    const context = this.canvas.getContext('2d', { willReadFrequently: true });
    context.drawImage(this.element, 0, 0, w, h);
    return context.getImageData(0, 0, w, h).data;
  }

  showLabel(time, index = this.handed - 1) {
    const duration = this.element.duration || 0;
    if (duration) this.slider.value = String(Math.round(time / duration * 1000));
    this.label.textContent = `frame ${Math.max(index, 0)}  ${time.toFixed(3)} s`;
    this.skippedLabel.textContent = `skipped ${this.skipped}`;
  }
}
