// Snapshots (content, key order, file names), the file list, view, compare,
// and the text report.
import { test, before, after } from 'node:test';
import assert from 'node:assert/strict';
import { launch, withTv, res, net, done, startDomainScan } from './harness.mjs';

let browser;
before(async () => { browser = await launch(); });
after(async () => { await browser.close(); });

const T0 = new Date(2025, 0, 31, 9, 42, 5);
const opts = { fixedTime: T0 };

async function snap(tv, label) {
  await tv.fill('#snapLabel', label);
  await tv.clearPosted();
  await tv.click('#btnSnap');
  const f = await tv.lastPosted('save');
  return f && { name: f[1], text: f.slice(2).join('\t'), fields: f.length };
}

async function matrixRun(tv, ips, snis) {
  await tv.tab('matrix');
  await tv.fill('#mxIps', ips);
  await tv.fill('#mxSnis', snis);
  await tv.click('#btnMx');
  return Number((await tv.lastPosted('scan'))[1]);
}

test('saving: nothing to save, then the whole snapshot with its exact key order', async () => {
  await withTv(browser, opts, async tv => {
    assert.equal(await snap(tv, ''), null);
    assert.equal(await tv.toast(), 'Нечего сохранять — сначала сделай скан');
    await tv.click('#btnBasics');
    await tv.send({ t: 'ipinfo', run: 1, body: '{"status":"fail"}' }, done(1));
    assert.equal(await snap(tv, ''), null, 'a lookup outcome alone is not enough');

    await tv.tab('basics');
    await tv.click('#btnBasics');
    const n1 = net(2, 'TCP:443', '1.1.1.1', 'ok', 14), n2 = net(2, 'DNS', 'ya.ru', 'nx', -1, 'not\tfound');
    await tv.send(n1, n2, { t: 'ipinfo', run: 2, body: JSON.stringify({ status: 'success', query: '198.51.100.7', isp: 'ISP', org: 'ORG', as: 'AS1 X', country: 'RU' }) }, done(2));

    const { run, jobs } = await startDomainScan(tv, '# [ru]\nya.ru\nvk.com\n# [world]\ngoogle.com');
    assert.equal(run, 3);
    const r2 = res(run, 2, jobs[2], 'blocked', { ip: '' }), r0 = res(run, 0, jobs[0], 'pass', { certOk: false });
    await tv.send(r2, r0, done(run));

    const mrun = await matrixRun(tv, '1.1.1.1', '-\nvk.com');
    const c1 = res(mrun, 1, '1.1.1.1', 'dpi', { sni: 'vk.com' }), c0 = res(mrun, 0, '1.1.1.1', 'reach', { sni: '' });
    await tv.send(c1, c0, done(mrun));

    const s = await snap(tv, ' base ');
    assert.equal(s.name, 'scan_20250131_094205_base.json');
    assert.equal(s.fields, 3, 'the snapshot text carries no TAB');
    const dom = x => ({ host: x.host, group: x === r2 ? 'world' : 'ru', verdict: x.verdict, ip: x.ip, dns: x.dns, tcp: x.tcp, tls: x.tls,
      http: x.http, httpCode: x.httpCode, tlsMs: x.tlsMs, cert: x.cert, certOk: x.certOk });
    const cell = x => ({ ip: x.host, sni: x.sni, verdict: x.verdict, tcp: x.tcp, tls: x.tls, tlsMs: x.tlsMs });
    const expected = {
      v: 1, created: T0.toISOString(), label: 'base',
      status: { k: 'wl', txt: 'БЕЛЫЕ СПИСКИ · мир 0/1 · ru 1/1' },
      domains: [dom(r0), dom(r2)],
      matrix: { ips: ['1.1.1.1'], snis: ['-', 'vk.com'], cells: [cell(c1), cell(c0)] },
      basics: [n1, n2],
      ipinfo: { ip: '198.51.100.7', isp: 'ISP', org: 'ORG', as: 'AS1 X', country: 'RU' },
    };
    assert.equal(s.text, JSON.stringify(expected));
  });
});

test('file names from labels', async () => {
  await withTv(browser, opts, async tv => {
    await tv.click('#btnBasics');
    await tv.send(net(1, 'DNS', 'x', 'ok', 1), done(1));
    const cases = [['base', '_base'], ['vpn off', '_vpn_off'], ['a /b', '_a_b'], ['метка', ''], ['__x__', '_x'],
      ['-a-', '_-a-'], ['x.y/z', '_x_y_z'], ['abcdefghijklmnopqrstuvwxyz', '_abcdefghijklmnopqrstuvwx'], ['', '']];
    for (const [label, tag] of cases) {
      const s = await snap(tv, label);
      assert.equal(s.name, 'scan_20250131_094205' + tag + '.json', label);
      assert.equal(JSON.parse(s.text).label, label.slice(0, 24), label);
    }
  });
});

const fileRows = tv => tv.api(() => Array.from(document.querySelectorAll('#fileList .frow')).map(r =>
  [r.querySelector('.fname').textContent, r.querySelector('.fsize').textContent,
    Array.from(r.querySelectorAll('.ftag')).map(t => t.textContent).join('')]));

test('file list: newest first, sizes, picks, delete', async () => {
  await withTv(browser, opts, async tv => {
    await tv.tab('history');
    await tv.send({ t: 'files', list: [{ name: 'scan_20250101_120000.json', size: 1536 }, { name: 'scan_20250301_080000_b.json', size: 0 },
      { name: 'scan_20250201_000000.json', size: 2048000 }, { name: 'a.json' }] });
    assert.deepEqual(await fileRows(tv), [['scan_20250301_080000_b.json', '0.0 КБ', ''], ['scan_20250201_000000.json', '2000.0 КБ', ''],
      ['scan_20250101_120000.json', '1.5 КБ', ''], ['a.json', '0.0 КБ', '']]);
    await tv.click('.frow:nth-child(1) button[data-act="a"]');
    await tv.click('.frow:nth-child(3) button[data-act="b"]');
    assert.deepEqual((await fileRows(tv)).map(r => r[2]), ['A', '', 'B', '']);
    await tv.send({ t: 'files', list: [{ name: 'scan_20250101_120000.json', size: 1 }, { name: 'scan_20250301_080000_b.json', size: 1 }] });
    assert.deepEqual((await fileRows(tv)).map(r => r[2]), ['A', 'B'], 'picks survive a refresh');

    await tv.clearPosted();
    await tv.click('.frow:nth-child(1) button[data-act="del"]');
    assert.deepEqual(await tv.posted(), ['delete\tscan_20250301_080000_b.json']);
    assert.equal((await fileRows(tv)).length, 2, 'the list waits for the native side');
    await tv.click('#btnCmp');
    assert.equal(await tv.toast(), 'Выбери снимки A и B');

    await tv.clearPosted();
    await tv.click('#btnRefresh');
    await tv.click('#btnFolder');
    assert.deepEqual(await tv.posted(), ['list', 'openfolder']);
    await tv.send({ t: 'files' });
    assert.equal(await tv.text('#fileList'), 'Снимков пока нет. Нажми «Сохранить снимок» вверху.');
  });
});

const SNAP = {
  v: 1, created: T0.toISOString(), label: 'base', status: { k: 'open', txt: 'ОТКРЫТО · 2/2' },
  domains: [{ host: 'a.ru', group: 'ru', verdict: 'pass', ip: '1.2.3.4' }, { host: 'b.ru', group: 'ru', verdict: 'reach', ip: '' }],
  matrix: { ips: ['1.1.1.1'], snis: ['-'], cells: [{ ip: '1.1.1.1', sni: '', verdict: 'pass' }] },
  basics: [], ipinfo: { ip: '198.51.100.7', isp: 'ISP', org: 'O', as: 'AS1' },
};

test('viewing a snapshot; broken and odd files', async () => {
  await withTv(browser, opts, async tv => {
    const name = 'scan_20250131_094205_base.json';
    await tv.tab('history');
    await tv.send({ t: 'files', list: [{ name, size: 10 }] });
    await tv.clearPosted();
    await tv.click('button[data-act="view"]');
    assert.deepEqual(await tv.posted(), ['load\t' + name]);
    await tv.send({ t: 'file', name, data: JSON.stringify(SNAP) });
    const view = () => tv.api(() => ({
      tiles: Array.from(document.querySelectorAll('#cmpOut .tile')).map(t => t.textContent),
      note: (document.querySelector('#cmpOut .note') || {}).textContent,
      rows: Array.from(document.querySelectorAll('#cmpOut tbody tr')).map(tr => Array.from(tr.cells).map(td => td.textContent)),
      cls: Array.from(document.querySelectorAll('#cmpOut tbody .v')).map(v => v.className),
    }));
    assert.deepEqual(await view(), {
      tiles: ['Снимок: ОТКРЫТО · 2/2' + name + ' · 31.01.2025, 09:42:05 · base'],
      note: 'Выход: 198.51.100.7 · ISP · AS1',
      rows: [['a.ru', 'ru', 'ПРОХОДИТ', '1.2.3.4'], ['b.ru', 'ru', 'ДОСТУЧАЛСЯ', '—']],
      cls: ['v pass', 'v reach'],
    });

    for (const data of ['{"v":1,', 'null', '[1]', undefined]) {
      await tv.click('button[data-act="view"]');
      await tv.send({ t: 'file', name, data });
      assert.equal(await tv.toast(), 'Файл повреждён: ' + name, String(data));
    }
    // The pending view was dropped: a later good copy shows nothing by itself.
    await tv.send({ t: 'file', name, data: '{}' });
    assert.equal((await view()).tiles[0].startsWith('Снимок: ОТКРЫТО'), true);

    await tv.click('button[data-act="view"]');
    await tv.send({ t: 'file', name, data: '{"label":""}' });
    assert.deepEqual(await view(), { tiles: ['Снимок: ?' + name + ' · ?'], note: undefined, rows: [], cls: [] });
  });
});

const cmpView = tv => tv.api(() => ({
  heads: Array.from(document.querySelectorAll('#cmpOut .cmpH')).map(h => h.textContent),
  tags: Array.from(document.querySelectorAll('#cmpOut .tile b')).map(b => b.textContent),
  good: Array.from(document.querySelectorAll('#cmpOut .note.good')).map(n => n.textContent),
  rows: Array.from(document.querySelectorAll('#cmpOut tbody tr')).map(tr => Array.from(tr.cells).map(td => td.textContent)),
}));

test('comparing a file with itself loads it once and shows no change', async () => {
  await withTv(browser, opts, async tv => {
    const name = 'scan_20250131_094205_base.json';
    await tv.tab('history');
    await tv.send({ t: 'files', list: [{ name, size: 10 }] });
    await tv.click('button[data-act="a"]');
    await tv.click('button[data-act="b"]');
    await tv.clearPosted();
    await tv.click('#btnCmp');
    assert.deepEqual(await tv.posted(), ['load\t' + name]);
    await tv.send({ t: 'file', name, data: JSON.stringify(SNAP) });
    assert.deepEqual(await cmpView(tv), {
      heads: ['Домены: изменилось 0 из 2', 'IP × SNI: изменилось 0 из 1'],
      tags: ['A: ОТКРЫТО · 2/2', 'B: ОТКРЫТО · 2/2'],
      good: ['Без изменений.', 'Без изменений.'], rows: [],
    });
  });
});

test('comparing A and B: changed, one-sided and duplicate keys; waits for both files', async () => {
  await withTv(browser, opts, async tv => {
    const A = { status: { txt: 'ОТКРЫТО' }, domains: [{ host: 'a.ru', verdict: 'pass' }, { host: 'b.ru', verdict: 'dpi' },
      { host: 'dup.ru', verdict: 'pass' }, { host: 'dup.ru', verdict: 'dpi' }, { host: 'gone.ru', verdict: 'pass' }],
    matrix: { cells: [{ ip: '1.1.1.1', sni: '', verdict: 'pass' }] } };
    const B = { status: { txt: 'БЕЛЫЕ' }, domains: [{ host: 'a.ru', verdict: 'pass' }, { host: 'b.ru', verdict: 'pass' },
      { host: 'c.ru', verdict: 'reach' }, { host: 'dup.ru', verdict: 'dpi' }],
    matrix: { cells: [{ ip: '1.1.1.1', sni: '', verdict: 'dpi' }, { ip: '1.1.1.1', sni: 'vk.com', verdict: 'pass' }] } };
    await tv.tab('history');
    await tv.send({ t: 'files', list: [{ name: 'a.json', size: 1 }, { name: 'b.json', size: 1 }] });
    // View A first: the comparison must still reload it.
    await tv.click('.frow:nth-child(2) button[data-act="view"]');
    await tv.send({ t: 'file', name: 'a.json', data: JSON.stringify(A) });
    await tv.click('.frow:nth-child(2) button[data-act="a"]');
    await tv.click('.frow:nth-child(1) button[data-act="b"]');
    await tv.clearPosted();
    await tv.click('#btnCmp');
    assert.deepEqual(await tv.posted(), ['load\ta.json', 'load\tb.json']);
    await tv.send({ t: 'file', name: 'b.json', data: JSON.stringify(B) });
    assert.deepEqual((await cmpView(tv)).heads, [], 'nothing before both files are in');
    await tv.send({ t: 'file', name: 'a.json', data: JSON.stringify(A) });
    assert.deepEqual(await cmpView(tv), {
      heads: ['Домены: изменилось 3 из 5', 'IP × SNI: изменилось 2 из 2'],
      tags: ['A: ОТКРЫТО', 'B: БЕЛЫЕ'],
      good: [],
      rows: [['b.ru', 'DPI / СБРОС', '→', 'ПРОХОДИТ'], ['gone.ru', 'ПРОХОДИТ', '→', '…'], ['c.ru', '…', '→', 'ДОСТУЧАЛСЯ'],
        ['1.1.1.1 × ∅', 'ПРОХОДИТ', '→', 'DPI / СБРОС'], ['1.1.1.1 × vk.com', '…', '→', 'ПРОХОДИТ']],
    });
  });
});

test('transfer findings: compared in a table of their own, written to the report', async () => {
  await withTv(browser, opts, async tv => {
    const fz = { xfer: 'frozen', down: 'frozen', downBytes: 16800, downKbps: -1, up: 'skip', upBytes: -1, upKbps: -1 };
    const ok = { xfer: 'ok', down: 'ok', downBytes: 70000, downKbps: 9000, up: 'ok', upBytes: 70000, upKbps: 9000 };
    const A = { domains: [Object.assign({ host: 'a.com', verdict: 'pass' }, ok)] };
    const B = { domains: [Object.assign({ host: 'a.com', verdict: 'pass' }, fz)] };
    await tv.tab('history');
    await tv.send({ t: 'files', list: [{ name: 'a.json', size: 1 }, { name: 'b.json', size: 1 }] });
    await tv.click('.frow:nth-child(2) button[data-act="a"]');
    await tv.click('.frow:nth-child(1) button[data-act="b"]');
    await tv.click('#btnCmp');
    await tv.send({ t: 'file', name: 'a.json', data: JSON.stringify(A) }, { t: 'file', name: 'b.json', data: JSON.stringify(B) });
    const v = await cmpView(tv);
    assert.deepEqual(v.heads, ['Домены: изменилось 0 из 1', 'IP × SNI: изменилось 0 из 0', 'Тест 16–20 КБ: изменилось 1 из 1']);
    assert.deepEqual(v.rows, [['a.com', '64 КБ ✓', '→', 'ЗАМОРОЗКА ↓≈16 КБ']]);

    const { run } = await startDomainScan(tv, 'a.com');
    await tv.send(res(run, 0, 'a.com', 'pass', Object.assign({ downMs: 9, upMs: -1, upAcks: true }, fz)), done(run));
    const report = await tv.api(() => window.__tvTest.api.buildReport());
    assert.match(report, /a\.com -> ПРОХОДИТ \(.*, 16–20 КБ: ЗАМОРОЗКА ↓≈16 КБ\)/);
    const snap = await tv.api(() => window.__tvTest.api.makeSnapshot('x').domains[0]);
    const keys = Object.keys(snap);
    assert.deepEqual(keys.slice(keys.indexOf('certOk') + 1, keys.indexOf('certOk') + 8),
      ['xfer', 'down', 'downBytes', 'downKbps', 'up', 'upBytes', 'upKbps']);
  });
});

test('report: bare, full, lookup failure', async () => {
  await withTv(browser, opts, async tv => {
    const report = async () => {
      await tv.clearPosted();
      await tv.click('#btnCopy');
      const f = await tv.lastPosted('copy');
      assert.equal(f.length, 2);
      return f[1];
    };
    assert.equal(await report(), 'Tarnveil 1.0.0 | 31.01.2025, 09:42:05\nСтатус: Статус неизвестен — запусти скан');

    await tv.send({ t: 'hello', version: '1.0.1', dir: '/x' });
    await tv.click('#btnBasics');
    await tv.send(net(1, 'TCP:443', '1.1.1.1', 'ok', 14), net(1, 'DNS', 'ya.ru', 'nx', -1, 'not found'),
      { t: 'ipinfo', run: 1, body: JSON.stringify({ status: 'success', query: '198.51.100.7', isp: 'ISP', as: 'AS1 X', city: 'Moscow' }) }, done(1));
    const { run, jobs } = await startDomainScan(tv, '# [ru]\nya.ru\nvk.com\n# [world]\ngoogle.com');
    await tv.send(res(run, 0, jobs[0], 'pass'), res(run, 2, jobs[2], 'blocked', { ip: '' }), done(run));
    const mrun = await matrixRun(tv, '1.1.1.1\n8.8.8.8', '-\nvk.com');
    await tv.send(res(mrun, 0, '1.1.1.1', 'pass', { sni: '' }), res(mrun, 3, '8.8.8.8', 'dpi', { sni: 'vk.com' }), done(mrun, true));
    assert.equal(await report(), [
      'Tarnveil 1.0.1 | 31.01.2025, 09:42:05',
      'Статус: БЕЛЫЕ СПИСКИ · мир 0/1 · ru 1/1',
      'Выход: 198.51.100.7 | ISP | AS1 X | Moscow',
      '', '== Домены ==',
      '[ru] ya.ru -> ПРОХОДИТ (ip 10.0.0.1, dns ok, tcp ok, tls ok 60ms, http 200)',
      '[world] google.com -> БЛОК (ip -, dns ok, tcp timeout, tls skip)',
      '', '== IP x SNI ==',
      '1.1.1.1: noSNI=OK vk.com=?',
      '8.8.8.8: noSNI=? vk.com=DPI',
      '', '== Базовый тест ==',
      'TCP:443 | 1.1.1.1 -> ok 14ms',
      'DNS | ya.ru -> nx (not found)',
    ].join('\n'));

    await tv.tab('basics');
    await tv.click('#btnBasics');
    await tv.send({ t: 'ipinfo', run: mrun + 1, body: '' }, done(mrun + 1));
    assert.deepEqual((await report()).split('\n').slice(1, 4), ['Статус: БЕЛЫЕ СПИСКИ · мир 0/1 · ru 1/1',
      'Выход: данные недоступны (ip-api.com)', '']);
  });
});
