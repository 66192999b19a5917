// Which build of the engine this browser runs. A browser refuses a whole
// module that holds a vector instruction it lacks, so the engine comes in two
// builds: pelx04-simd.js (128-bit vectors) and pelx04.js (scalar). The probe is
// the smallest module that uses one: a function returning i32x4.splat(0).
const vectorProbe = new Uint8Array([
  0x00, 0x61, 0x73, 0x6d, 0x01, 0x00, 0x00, 0x00, // magic, version
  0x01, 0x05, 0x01, 0x60, 0x00, 0x01, 0x7b, // types: () -> v128
  0x03, 0x02, 0x01, 0x00, // one function of type 0
  0x0a, 0x08, 0x01, 0x06, 0x00, 0x41, 0x00, 0xfd, 0x11, 0x0b, // body: i32.const 0, i32x4.splat, end
]);

export function hasVectors() {
  try {
    return WebAssembly.validate(vectorProbe);
  } catch (error) {
    return false;
  }
}

// `?engine=scalar` in the page's address forces the scalar build, so that the
// fallback can be tried (and tested) in a browser that has vectors.
export function engineScript(search = '') {
  const forced = new URLSearchParams(search).get('engine');
  const vectors = forced === 'scalar' ? false : hasVectors();
  return { script: vectors ? 'pelx04-simd.js' : 'pelx04.js', name: vectors ? 'simd128' : 'scalar' };
}
