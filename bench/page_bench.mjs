// Page benchmark: how long the page takes to take in 3000 scan results.
//
//   node bench/page_bench.mjs [<build>/web/page.html]
//
// Loads the joined page in Debian's chromium (headless) with a fake web view
// channel, starts a domain scan of 3000 hosts and delivers 3000 `res`
// messages, first all at once (script time plus the final layout), then in
// batches of 256 with a frame between them (as the Linux host batches them),
// and the same for a 60 x 50 matrix. Each figure is the median of 5 rounds.
// Prints absolute times and ratios; it never fails on time.
import { chromium } from '../tests/page/node_modules/playwright-core/index.mjs';
import path from 'node:path';
import fs from 'node:fs';
import { fileURLToPath, pathToFileURL } from 'node:url';

const here = path.dirname(fileURLToPath(import.meta.url));
const page = process.argv[2] || process.env.TV_PAGE || path.join(here, '../build/linux/web/page.html');
if (!fs.existsSync(page)) {
  console.error('page not built: ' + page);
  process.exit(2);
}
const N = 3000, ROUNDS = 5;

function fake() {
  const target = new EventTarget();
  window.__posted = [];
  window.chrome = window.chrome || {};
  window.chrome.webview = {
    postMessage: s => window.__posted.push(s),
    addEventListener: (t, fn) => target.addEventListener(t, fn),
  };
  window.__tvSend = data => target.dispatchEvent(new MessageEvent('message', { data }));
}

// Runs in the page: starts a run of `kind` and times the delivery of its
// results. Returns {sync, layout, dropped, framed, frames} in milliseconds.
async function measure(kind) {
  const N = 3000;
  const groups = ['ru', 'cloud', 'host', 'world'];
  let jobs;
  if (kind === 'domains') {
    document.querySelector('.tab[data-v="domains"]').click();
    const lines = [];
    for (let g = 0; g < 4; g++) {
      lines.push('# [' + groups[g] + '] group');
      for (let i = 0; i < N / 4; i++) lines.push('h' + g + '-' + i + '.example');
    }
    document.getElementById('domList').value = lines.join('\n');
    document.getElementById('btnDom').click();
  } else {
    document.querySelector('.tab[data-v="matrix"]').click();
    document.getElementById('mxIps').value = Array.from({ length: 60 }, (_, i) => '10.1.0.' + i).join('\n');
    document.getElementById('mxSnis').value = Array.from({ length: 50 }, (_, i) => i ? 's' + i + '.example' : '-').join('\n');
    document.getElementById('btnMx').click();
  }
  const scan = window.__posted[window.__posted.length - 1].split('\t');
  const run = Number(scan[1]);
  jobs = scan[6].split('\n').map(l => l.split('|'));
  const verdicts = ['pass', 'pass', 'reach', 'dpi', 'blocked', 'partial'];
  const msgs = jobs.map(([host, sni], idx) => ({
    t: 'res', run, idx, host, sni, ip: '10.2.' + (idx >> 8) + '.' + (idx & 255), dns: 'ok', dnsMs: 10, tcp: 'ok', tcpMs: 20 + (idx % 50),
    tls: 'ok', tlsMs: 40 + (idx % 70), tlsDetail: '', cert: host, certOk: idx % 7 !== 0, http: 'ok', httpMs: 60, httpCode: 200,
    verdict: verdicts[idx % verdicts.length],
  }));
  // Workers finish out of order: swap neighbours.
  for (let i = 0; i + 1 < msgs.length; i += 2) [msgs[i], msgs[i + 1]] = [msgs[i + 1], msgs[i]];

  const dropped = msgs.map(m => ({ ...m, run: run + 1000 }));
  let t = performance.now();
  for (const m of dropped) window.__tvSend(m);
  const tDropped = performance.now() - t;

  t = performance.now();
  for (const m of msgs) window.__tvSend(m);
  const tSync = performance.now() - t;
  t = performance.now();
  void document.body.offsetHeight;
  const tLayout = performance.now() - t;
  window.__tvSend({ t: 'done', run, cancelled: false });

  // The same again, in host-sized batches with a rendered frame between.
  document.getElementById(kind === 'domains' ? 'btnDom' : 'btnMx').click();
  const run2 = Number(window.__posted[window.__posted.length - 1].split('\t')[1]);
  const frame = () => new Promise(r => requestAnimationFrame(() => setTimeout(r, 0)));
  await frame();
  t = performance.now();
  let frames = 0;
  for (let i = 0; i < msgs.length; i += 256) {
    for (const m of msgs.slice(i, i + 256)) window.__tvSend({ ...m, run: run2 });
    await frame();
    frames++;
  }
  const tFramed = performance.now() - t;
  window.__tvSend({ t: 'done', run: run2, cancelled: false });
  return { sync: tSync, layout: tLayout, dropped: tDropped, framed: tFramed, frames, n: msgs.length };
}

const median = xs => xs.slice().sort((a, b) => a - b)[Math.floor(xs.length / 2)];

const browser = await chromium.launch({
  executablePath: '/usr/bin/chromium', headless: true,
  args: ['--headless', '--no-sandbox', '--disable-gpu', '--disable-background-networking', '--disable-component-update', '--no-first-run'],
});
try {
  console.log(`page benchmark: ${N} results, median of ${ROUNDS} rounds (${page})`);
  for (const kind of ['domains', 'matrix']) {
    const rounds = [];
    for (let r = 0; r < ROUNDS; r++) {
      const ctx = await browser.newContext({ viewport: { width: 1240, height: 820 } });
      const p = await ctx.newPage();
      await p.addInitScript(fake);
      await p.goto(pathToFileURL(page).href);
      rounds.push(await p.evaluate(measure, kind));
      await ctx.close();
    }
    const f = k => median(rounds.map(x => x[k]));
    const sync = f('sync'), layout = f('layout'), dropped = f('dropped'), framed = f('framed'), n = rounds[0].n;
    const per = (sync + layout) / n;
    const label = kind === 'domains' ? 'domain table' : 'matrix 60x50';
    console.log(`  ${label}: ${(sync + layout).toFixed(1)} ms in all (script ${sync.toFixed(1)} + layout ${layout.toFixed(1)}), ` +
      `${(per * 1000).toFixed(1)} us per message`);
    console.log(`    per message vs a dropped message (other run id): ${(sync / Math.max(dropped, 0.001)).toFixed(1)}x; ` +
      `per message vs a 16.7 ms frame: ${(per / 16.7).toFixed(4)}`);
    console.log(`    in ${rounds[0].frames} batches of 256 with a frame each: ${framed.toFixed(1)} ms, ` +
      `${(framed / rounds[0].frames).toFixed(1)} ms per batch = ${(framed / rounds[0].frames / 16.7).toFixed(2)} frames`);
  }
} finally {
  await browser.close();
}
