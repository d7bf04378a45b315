// Screenshots of every view with realistic content, 1240 x 820, written to
// <build>/artifacts/page/ for a look by eye; checks the theme basics.
import { test, before, after } from 'node:test';
import assert from 'node:assert/strict';
import fs from 'node:fs';
import path from 'node:path';
import { launch, withTv, res, net, done, ARTIFACTS } from './harness.mjs';

let browser;
before(async () => { browser = await launch(); fs.mkdirSync(ARTIFACTS, { recursive: true }); });
after(async () => { await browser.close(); });

async function shot(tv, view) {
  await tv.tab(view);
  const file = path.join(ARTIFACTS, view + '.png');
  await tv.page.screenshot({ path: file, animations: 'disabled' });
  assert.ok(fs.statSync(file).size > 10000, file);
}

test('screenshots of all views', async () => {
  await withTv(browser, { fixedTime: new Date(2025, 0, 31, 9, 42, 5) }, async tv => {
    await tv.send({ t: 'hello', version: '1.0.0', dir: 'C:\\Tarnveil\\scans' });
    const bg = await tv.api(() => getComputedStyle(document.body).backgroundColor);
    assert.equal(bg, 'rgb(14, 10, 22)');

    // Basic test
    await tv.click('#btnBasics');
    const sys = ['max.ru', 'ya.ru', 'example.com', 'google.com'];
    await tv.send(
      ...sys.map((n, i) => net(1, 'DNS системный', n, i === 3 ? 'nx' : 'ok', 20 + i * 7, i === 3 ? '' : '93.184.216.' + (10 + i))),
      ...['Yandex DNS 77.88.8.8', 'Cloudflare 1.1.1.1', 'Google 8.8.8.8', 'Quad9 9.9.9.9'].map((n, i) =>
        net(1, 'DNS по UDP/53', n, i === 0 ? 'ok' : 'timeout', i === 0 ? 18 : 3500, i === 0 ? 'A 93.184.216.34' : 'no reply')),
      ...['Yandex DNS 77.88.8.8:443', 'Cloudflare 1.1.1.1:443', 'Google 8.8.8.8:443', 'Quad9 9.9.9.9:443'].map((n, i) =>
        net(1, 'TCP:443 по IP', n, i === 0 ? 'ok' : 'timeout', i === 0 ? 31 : 3500)),
      { t: 'ipinfo', run: 1, body: JSON.stringify({ status: 'success', query: '198.51.100.23', isp: 'PJSC Rostelecom', org: 'RT', as: 'AS12389 PJSC Rostelecom', city: 'Moscow', country: 'Russia' }) },
      done(1));
    await shot(tv, 'basics');

    // Domains: the default list under an allow-list
    await tv.tab('domains');
    await tv.click('#btnDom');
    const jobs = (await tv.lastPosted('scan'))[6].split('\n').map(l => l.split('|')[0]);
    const groups = await tv.api(() => window.__tvTest.api.S.domRows.map(r => r.group));
    await tv.send(...jobs.map((h, i) => {
      const g = groups[i];
      if (g === 'world') return res(2, i, h, i % 3 ? 'dpi' : 'blocked', { tcpMs: 40 + i });
      if (g === 'host' && i % 2) return res(2, i, h, 'reach', { tcpMs: 35 + i });
      if (h === 'cloud.ru') return res(2, i, h, 'blocked', { ip: '', dns: 'nx', tcp: 'skip', tcpMs: -1, tlsDetail: 'DNS: nx' });
      return res(2, i, h, i === 5 ? 'partial' : 'pass', { tcpMs: 20 + i, tlsMs: 60 + 3 * i, certOk: i !== 7 });
    }), done(2));
    assert.equal(await tv.api(() => document.getElementById('pill').className), 'pill s-wl');
    await shot(tv, 'domains');

    // Matrix: an SNI filter on foreign addresses, a dead server, white domestic addresses
    await tv.tab('matrix');
    await tv.click('#btnMx');
    const mj = (await tv.lastPosted('scan'))[6].split('\n').map(l => l.split('|'));
    const white = new Set(await tv.api(() => window.__tvTest.api.WHITE_BASE));
    await tv.send(...mj.map(([ip, sni], i) => {
      if (ip === '203.0.113.10') return res(3, i, ip, 'blocked', { sni });
      if (/^(1|8|9)\./.test(ip)) return res(3, i, ip, white.has(sni) ? 'reach' : 'dpi', { sni, tlsMs: 40 + (i % 9) });
      return res(3, i, ip, 'pass', { sni, tlsMs: 30 + (i % 13) });
    }), done(3));
    assert.equal(await tv.api(() => document.querySelectorAll('#mxNotes .note').length), 9);
    await shot(tv, 'matrix');
    await tv.api(() => document.getElementById('mxTable').scrollIntoView());
    const grid = path.join(ARTIFACTS, 'matrix-grid.png');
    await tv.page.screenshot({ path: grid, animations: 'disabled' });

    // History with a comparison
    await tv.send({ t: 'files', list: [
      { name: 'scan_20250131_094205_base.json', size: 18234 }, { name: 'scan_20250130_201500_vpn-off.json', size: 17920 },
      { name: 'scan_20250129_110000_auto.json', size: 1536 }] });
    await tv.tab('history');
    await tv.click('.frow:nth-child(2) button[data-act="a"]');
    await tv.click('.frow:nth-child(1) button[data-act="b"]');
    await tv.click('#btnCmp');
    const snapOf = (txt, vs) => JSON.stringify({ v: 1, created: '2025-01-31T06:42:05.000Z', label: '', status: { k: 'wl', txt },
      domains: ['ya.ru', 'vk.com', 'google.com', 'github.com'].map((host, i) => ({ host, group: i < 2 ? 'ru' : 'world', verdict: vs[i] })),
      matrix: { ips: ['1.1.1.1'], snis: ['-', 'ya.ru'], cells: [{ ip: '1.1.1.1', sni: '', verdict: vs[4] }, { ip: '1.1.1.1', sni: 'ya.ru', verdict: 'reach' }] } });
    await tv.send({ t: 'file', name: 'scan_20250130_201500_vpn-off.json', data: snapOf('ОТКРЫТО · мир 2/2', ['pass', 'pass', 'pass', 'pass', 'pass']) },
      { t: 'file', name: 'scan_20250131_094205_base.json', data: snapOf('БЕЛЫЕ СПИСКИ · мир 0/2 · ru 2/2', ['pass', 'pass', 'dpi', 'blocked', 'dpi']) });
    await shot(tv, 'history');

    await shot(tv, 'help');
  });
});
