// Bundles the page into one folder: app.js (page and editor) and worker.js,
// with the examples built in, and the static files beside them. Nothing is
// loaded from another host at run time.
// Usage: node web/build/bundle.mjs ROOT NODE_MODULES SITE
import { readFileSync, readdirSync, copyFileSync } from 'node:fs';
import { join, basename } from 'node:path';
import { createRequire } from 'node:module';

const [root, nodeModules, site] = process.argv.slice(2);
const require = createRequire(join(nodeModules, 'noop.js'));
const esbuild = require('esbuild');

function readExamples(folder, group) {
  return readdirSync(folder).filter((name) => name.endsWith('.lua')).sort().map((name) => {
    const text = readFileSync(join(folder, name), 'utf8');
    const title = (/^--\s*(.*)$/m.exec(text) || [, ''])[1];
    return { group, name: basename(name, '.lua'), title, text };
  });
}

const examples = [
  ...readExamples(join(root, 'examples'), 'Scripts'),
  ...readExamples(join(root, 'web', 'examples'), 'Functions'),
];

const examplesModule = {
  name: 'pelx04-examples',
  setup(build) {
    build.onResolve({ filter: /^pelx04-examples$/ }, (args) => ({ path: args.path, namespace: 'pelx04-examples' }));
    build.onLoad({ filter: /.*/, namespace: 'pelx04-examples' }, () => ({
      contents: JSON.stringify(examples), loader: 'json',
    }));
  },
};

const page = join(root, 'web', 'page');
await esbuild.build({
  entryPoints: { app: join(page, 'main.js'), worker: join(page, 'worker.js') },
  outdir: site,
  bundle: true,
  format: 'iife',
  minify: true,
  target: ['chrome100', 'firefox100', 'safari15'],
  nodePaths: [nodeModules],
  plugins: [examplesModule],
  logLevel: 'warning',
});
for (const file of ['index.html', 'style.css']) copyFileSync(join(page, file), join(site, file));
console.log(`bundled ${examples.length} examples into ${site}`);
