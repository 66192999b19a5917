// The editor's script to and from files on disk, and to a share link.
import { shareLink } from './share.js';
import { maxScriptBytes, maxScriptSize } from './script_size.js';

// A file the user picked, read as text; a large file picked by mistake is
// refused rather than dropped into the editor.
export async function readScriptFile(file) {
  if (file.size > maxScriptBytes) throw new Error(`${file.name} is not a script (larger than ${maxScriptSize})`);
  return file.text();
}

export function saveScriptFile(text, name = 'script.lua') {
  const link = document.createElement('a');
  link.href = URL.createObjectURL(new Blob([text], { type: 'text/x-lua' }));
  link.download = name;
  link.click();
  setTimeout(() => URL.revokeObjectURL(link.href), 1000);
}

// Puts the link in the address bar (so that the browser's own copy and
// bookmark take it) and on the clipboard where the browser allows; returns
// what to tell the user.
export async function shareScript(text) {
  const link = await shareLink(text);
  history.replaceState(null, '', link);
  try {
    await navigator.clipboard.writeText(link);
    return { link, note: 'link copied: it holds the script itself, nothing was uploaded' };
  } catch (error) {
    return { link, note: 'link in the address bar: it holds the script itself, nothing was uploaded' };
  }
}
