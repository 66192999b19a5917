// The largest script the page takes from a file or a share link. Scripts are
// small; a larger file is picked by mistake, and a larger link is a mistake or
// a deflate bomb (1 MB of link can inflate to 1 GB).
export const maxScriptBytes = 1 << 20;
export const maxScriptSize = '1 MiB';
