// The page under the Linux host's channel: only postMessage and the message
// event, messages fed as JSON texts. Runs once with tests/page/shim.js and,
// when the host's source is present, once with the shim the host injects.
import { test, before, after } from 'node:test';
import assert from 'node:assert/strict';
import fs from 'node:fs';
import path from 'node:path';
import { fileURLToPath } from 'node:url';
import { launch, withTv, res, net, done, startDomainScan } from './harness.mjs';

const here = path.dirname(fileURLToPath(import.meta.url));

let browser;
before(async () => { browser = await launch(); });
after(async () => { await browser.close(); });

async function flow(tv) {
  assert.deepEqual(await tv.posted(), ['ready']);
  assert.equal(await tv.api(() => window.__tvTest), undefined);
  await tv.send({ t: 'hello', project: 'Tarnveil', author: 'Brannick & Quillmoor', version: '1.0.0', dir: '/home/u/.local/share/tarnveil/scans' },
    { t: 'files', list: [{ name: 'scan_20250101_120000.json', size: 1536 }] });
  assert.equal(await tv.text('#dirTxt'), '/home/u/.local/share/tarnveil/scans');

  await tv.click('#btnBasics');
  assert.deepEqual(await tv.posted(), ['ready', 'basics\t1\t3500']);
  await tv.send(net(1, 'TCP:443', '1.1.1.1', 'ok', 20), { t: 'ipinfo', run: 1, body: '{"status":"success","query":"192.0.2.1"}' }, done(1));
  assert.equal(await tv.api(() => document.querySelectorAll('#bsBody tr').length), 1);

  const { run, jobs } = await startDomainScan(tv, '# [world]\na.com\nb.com');
  await tv.send(...jobs.map((h, i) => res(run, i, h, 'pass')), done(run));
  assert.equal(await tv.text('#pillTxt'), 'ОТКРЫТО · мир 2/2');
  assert.match(await tv.text('#domLog'), /Первый скан: ОТКРЫТО · мир 2\/2/);

  await tv.tab('matrix');
  await tv.fill('#mxIps', '1.1.1.1');
  await tv.fill('#mxSnis', 'vk.com\ngoogle.com');
  await tv.click('#btnMx');
  await tv.send(res(run + 1, 0, '1.1.1.1', 'pass', { sni: 'vk.com' }), res(run + 1, 1, '1.1.1.1', 'dpi', { sni: 'google.com' }), done(run + 1));
  assert.match(await tv.text('#mxNotes'), /^1\.1\.1\.1 — Фильтр по SNI/);

  await tv.tab('history');
  assert.equal(await tv.text('#fileList .fsize'), '1.5 КБ');
  await tv.click('#fileList button[data-act="view"]');
  await tv.send({ t: 'file', name: 'scan_20250101_120000.json', data: '{"v":1,"status":{"k":"wl","txt":"БЕЛЫЕ"},"domains":[]}' });
  assert.match(await tv.text('#cmpOut'), /^Снимок: БЕЛЫЕ/);

  const cmds = (await tv.posted()).map(c => c.split('\t')[0]);
  assert.deepEqual(cmds, ['scan', 'scan', 'list', 'load']); // posted since the domain scan
}

test('the whole round trip under tests/page/shim.js', async () => {
  await withTv(browser, { test: false, shim: true }, flow);
});

test('the whole round trip under the shim the Linux host injects', async t => {
  const src = path.join(here, '../../app/gtk/webview_gtk.cpp');
  const m = fs.existsSync(src) && /kShim\s*=\s*R"JS\(([\s\S]*?)\)JS"/.exec(fs.readFileSync(src, 'utf8'));
  if (!m) {
    t.skip('the Linux host source has no shim script');
    return;
  }
  await withTv(browser, { test: false, shim: m[1] }, flow);
});
