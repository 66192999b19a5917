// Before and after: two canvases side by side, or one over the other with a
// split slider; zoom by whole factors with square pixels; the exact BGRA word
// under the pointer in both, asked of the engine (a canvas keeps colours
// premultiplied by alpha, so it is used only to show them). The pictures come
// drawn, as ImageBitmaps the canvases take over without a copy.

function hex(word) {
  return word === null ? '—' : '0x' + word.toString(16).toUpperCase().padStart(8, '0');
}

export class Views {
  constructor(elements) {
    // stage, panes, beforeCanvas, afterCanvas, split, splitBox, zoom, mode, readout, and
    // pixelAt(x, y), which resolves to the words { before, after } there
    Object.assign(this, elements);
    this.before = null; // { width, height, bitmap }
    this.after = null;
    this.pointed = null; // the pixel to read out next, while a read is in flight
    this.reading = false;
    this.mode.addEventListener('change', () => this.layout());
    this.zoom.addEventListener('change', () => this.layout());
    this.split.addEventListener('input', () => this.clip());
    this.stage.addEventListener('mousemove', (event) => this.point(event));
    for (const pane of this.panes) pane.addEventListener('scroll', () => this.syncScroll(pane));
    window.addEventListener('resize', () => this.layout());
  }

  // A picture's bitmap may be smaller than the picture (a video playing at a
  // small scale); the layout sizes the canvas by the picture.
  show(canvas, picture) {
    if (!picture) return;
    const { width, height } = picture.bitmap;
    if (canvas.width !== width || canvas.height !== height) {
      canvas.width = width;
      canvas.height = height;
    }
    canvas.getContext('bitmaprenderer').transferFromImageBitmap(picture.bitmap);
  }

  setBefore(picture) {
    const sized = !this.before || !picture || this.before.width !== picture.width ||
      this.before.height !== picture.height;
    this.before = picture;
    this.show(this.beforeCanvas, picture);
    if (sized) this.layout();
  }

  setAfter(picture) {
    this.after = picture;
    if (picture) this.show(this.afterCanvas, picture);
    this.afterCanvas.classList.toggle('stale', !picture);
  }

  // How much smaller than the picture a playing video may be drawn: 2 or 4
  // where the screen shows at most a half or a quarter of its pixels, else 1.
  shrink() {
    const scale = this.scale() * (window.devicePixelRatio || 1);
    return scale <= 0.25 ? 4 : scale <= 0.5 ? 2 : 1;
  }

  scale() {
    const picture = this.before;
    if (!picture) return 1;
    if (this.zoom.value !== 'fit') return Number(this.zoom.value);
    const pane = this.panes[0];
    return Math.min((pane.clientWidth - 4) / picture.width, (pane.clientHeight - 4) / picture.height);
  }

  layout() {
    const split = this.mode.value === 'split';
    this.stage.classList.toggle('split', split);
    this.splitBox.hidden = !split;
    const picture = this.before;
    if (!picture) return;
    // Side by side means one above the other when that shows the pictures larger.
    const { clientWidth: width, clientHeight: height } = this.stage;
    const across = Math.min(width / 2 / picture.width, height / picture.height);
    const stacked = Math.min(width / picture.width, height / 2 / picture.height);
    this.stage.classList.toggle('stacked', !split && stacked > across);
    const scale = this.scale();
    for (const canvas of [this.beforeCanvas, this.afterCanvas]) {
      canvas.style.width = `${picture.width * scale}px`;
      canvas.style.height = `${picture.height * scale}px`;
    }
    this.clip();
  }

  clip() {
    const split = this.mode.value === 'split';
    this.afterCanvas.style.clipPath = split ? `inset(0 0 0 ${this.split.value}%)` : '';
  }

  syncScroll(source) {
    if (this.syncing) return;
    this.syncing = true;
    for (const pane of this.panes) {
      if (pane !== source) {
        pane.scrollLeft = source.scrollLeft;
        pane.scrollTop = source.scrollTop;
      }
    }
    this.syncing = false;
  }

  // The pixel under the pointer, over either canvas (in split view the two
  // lie on top of each other).
  point(event) {
    const picture = this.before;
    if (!picture) return;
    const inside = (rect) => event.clientX >= rect.left && event.clientX < rect.right &&
      event.clientY >= rect.top && event.clientY < rect.bottom;
    const rect = [this.beforeCanvas, this.afterCanvas].map((c) => c.getBoundingClientRect()).find(inside);
    if (!rect) return;
    const x = Math.floor((event.clientX - rect.left) * picture.width / rect.width);
    const y = Math.floor((event.clientY - rect.top) * picture.height / rect.height);
    if (x < 0 || y < 0 || x >= picture.width || y >= picture.height) return;
    this.pointed = { x, y };
    this.readOut();
  }

  // One read at a time; the pointer's latest pixel is read next.
  async readOut() {
    if (this.reading || !this.pointed) return;
    const { x, y } = this.pointed;
    this.pointed = null;
    this.reading = true;
    try {
      const { before, after } = await this.pixelAt(x, y);
      this.readout.textContent = `x ${x}  y ${y}   before ${hex(before)}   after ${hex(after)}`;
    } finally {
      this.reading = false;
      this.readOut();
    }
  }
}
