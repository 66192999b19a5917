// "Export video": every frame of the opened file, in order and none skipped,
// decoded by the browser (WebCodecs), run through the script with frame.index
// and frame.time as the frame runner gives them, encoded and muxed into a file
// to download. Demuxing, muxing and the WebCodecs plumbing are mediabunny's.
// MP4 in, MP4 out (H.264, the AAC sound copied); anything else in, WebM out
// (VP9, Opus sound copied). Sound that cannot be copied is left out, and the
// result says so. H.264 here takes even sizes only: an odd width or height is
// padded by repeating the last column or row, and the result says so too.
import {
  ALL_FORMATS, BlobSource, BufferTarget, Conversion, ConversionCanceledError, Input, Mp4OutputFormat, Output,
  Quality, VideoSample, WebMOutputFormat,
} from 'mediabunny';

// Why a track cannot go into the file, as mediabunny reports it.
const trackReasons = {
  no_encodable_target_codec: 'no codec this browser can encode goes into this kind of file',
  undecodable_source_codec: 'this browser cannot decode its codec',
  unknown_source_codec: 'its codec is unknown',
};

// R, G, B, A pixels of width x height grown to toWidth x toHeight by
// repeating the last column and row.
function padded(rgba, width, height, toWidth, toHeight) {
  if (toWidth === width && toHeight === height) return rgba;
  const out = new Uint8ClampedArray(toWidth * toHeight * 4);
  for (let y = 0; y < toHeight; y++) {
    const from = Math.min(y, height - 1) * width * 4;
    const to = y * toWidth * 4;
    out.set(rgba.subarray(from, from + width * 4), to);
    for (let x = width; x < toWidth; x++) out.copyWithin(to + x * 4, to + (width - 1) * 4, to + width * 4);
  }
  return out;
}

// size(width, height) gives the size frames are run at (the preview's);
// runFrame(videoFrame, width, height, index, time) runs the script and
// resolves to the worker's reply. onProgress(share 0..1, seconds left or null).
// Resolves to { blob, name, frames, notes } or null when cancelled; `cancel` in the
// returned handle stops it.
export function exportVideo(file, { size, runFrame, onProgress }) {
  let conversion = null;
  let cancelled = false;
  const done = (async () => {
    const input = new Input({ source: new BlobSource(file), formats: ALL_FORMATS });
    const track = await input.getPrimaryVideoTrack();
    if (!track) throw new Error(`${file.name} has no video track this page can read`);
    const mp4 = (await input.getMimeType()).startsWith('video/mp4');
    const { width, height } = size(track.displayWidth, track.displayHeight);
    const scaled = width !== track.displayWidth || height !== track.displayHeight;
    const notes = [];
    if (scaled) {
      notes.push(`exported at ${width} × ${height}, the size it is previewed at ` +
        `(the video is ${track.displayWidth} × ${track.displayHeight}, larger than the page's limit)`);
    }
    const encodedWidth = mp4 ? width + width % 2 : width;
    const encodedHeight = mp4 ? height + height % 2 : height;
    const repeated = [encodedWidth !== width && 'column', encodedHeight !== height && 'row'].filter(Boolean);
    if (repeated.length) {
      notes.push(`exported at ${encodedWidth} × ${encodedHeight}: H.264 in this browser takes even sizes only, ` +
        `so the last ${repeated.join(' and ')} ${repeated.length > 1 ? 'are' : 'is'} repeated ` +
        `(the frame runner writes ${width} × ${height})`);
    }
    let index = 0;
    let first = null;
    const output = new Output({
      format: mp4 ? new Mp4OutputFormat({ fastStart: 'in-memory' }) : new WebMOutputFormat(),
      target: new BufferTarget(),
    });
    conversion = await Conversion.init({
      input,
      output,
      tracks: 'primary',
      video: {
        codec: mp4 ? 'avc' : 'vp9',
        // Only a scaled size (even already): given an odd one, mediabunny would stretch frames to even.
        ...(scaled ? { width, height } : {}),
        processedWidth: encodedWidth,
        processedHeight: encodedHeight,
        fit: 'fill',
        forceTranscode: true,
        // The runner's default qualities (x264 CRF 18, VP9 CRF 31) where the
        // browser's encoder takes a quantizer, a generous bitrate where not.
        quality: new Quality({ quantizer: mp4 ? 18 : 31, bitrate: Math.max(2e6, width * height * 8) }),
        process: async (sample) => {
          // frame.time counts from the first frame, as the runner's does.
          if (first === null) first = sample.timestamp;
          const reply = await runFrame(sample.toVideoFrame(), width, height, index++, sample.timestamp - first);
          if (reply.error) throw new Error(`frame ${index - 1}: ${reply.error}`);
          return new VideoSample(padded(reply.rgba, width, height, encodedWidth, encodedHeight), {
            format: 'RGBA', codedWidth: encodedWidth, codedHeight: encodedHeight, timestamp: sample.timestamp,
            duration: sample.duration,
          });
        },
      },
      audio: { codec: mp4 ? 'aac' : 'opus' },
    });
    const videoReasons = [];
    for (const { track: dropped, reason } of conversion.discardedTracks) {
      if (dropped.isAudioTrack()) notes.push(`the sound is left out (${trackReasons[reason] || reason})`);
      else if (dropped.isVideoTrack()) videoReasons.push(trackReasons[reason] || reason);
    }
    if (!conversion.isValid) {
      throw new Error(`${file.name} cannot be exported (${videoReasons.join('; ') || 'no video to encode'})`);
    }
    const started = performance.now();
    conversion.onProgress = (share) => {
      const elapsed = (performance.now() - started) / 1000;
      onProgress(share, share > 0.02 ? elapsed * (1 - share) / share : null);
    };
    if (cancelled) return null;
    try {
      await conversion.execute();
    } catch (error) {
      if (error instanceof ConversionCanceledError || cancelled) return null;
      throw error;
    }
    const base = file.name.replace(/\.[^.]*$/, '') || 'video';
    const extension = mp4 ? 'mp4' : 'webm';
    return {
      blob: new Blob([output.target.buffer], { type: mp4 ? 'video/mp4' : 'video/webm' }),
      name: `${base}-pelx04.${extension}`,
      frames: index,
      notes,
    };
  })();
  return {
    done,
    cancel: () => {
      cancelled = true;
      if (conversion) conversion.cancel();
    },
  };
}
