// Before and after: two canvases side by side, or one over the other with a
// split slider; zoom by whole factors with square pixels; the exact BGRA word
// under the pointer in both, read from the engine's own words (a canvas keeps
// colours premultiplied by alpha, so it is used only to show them).

function hex(rgba, index) {
  if (!rgba || index < 0 || index * 4 >= rgba.length) return '—';
  const i = index * 4;
  const word = ((rgba[i + 3] << 24) | (rgba[i] << 16) | (rgba[i + 1] << 8) | rgba[i + 2]) >>> 0;
  return '0x' + word.toString(16).toUpperCase().padStart(8, '0');
}

export class Views {
  constructor(elements) {
    Object.assign(this, elements); // stage, beforeCanvas, afterCanvas, split, splitBox, zoom, mode, readout
    this.before = null; // { width, height, rgba }
    this.after = null;
    this.mode.addEventListener('change', () => this.layout());
    this.zoom.addEventListener('change', () => this.layout());
    this.split.addEventListener('input', () => this.clip());
    this.stage.addEventListener('mousemove', (event) => this.point(event));
    for (const pane of this.panes) pane.addEventListener('scroll', () => this.syncScroll(pane));
    window.addEventListener('resize', () => this.layout());
  }

  show(canvas, picture) {
    if (!picture) return;
    if (canvas.width !== picture.width || canvas.height !== picture.height) {
      canvas.width = picture.width;
      canvas.height = picture.height;
    }
    const context = canvas.getContext('2d');
    context.putImageData(new ImageData(picture.rgba, picture.width, picture.height), 0, 0);
  }

  setBefore(picture) {
    this.before = picture;
    this.show(this.beforeCanvas, picture);
    this.layout();
  }

  setAfter(picture) {
    this.after = picture;
    if (picture) this.show(this.afterCanvas, picture);
    this.afterCanvas.classList.toggle('stale', !picture);
    this.layout();
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
    const index = y * picture.width + x;
    const after = this.after && this.after.width === picture.width ? this.after.rgba : null;
    this.readout.textContent = `x ${x}  y ${y}   before ${hex(picture.rgba, index)}   after ${hex(after, index)}`;
  }
}
