// Domain check view: list format, rows, tiles and pill, change log, auto-scan.
import { test, before, after } from 'node:test';
import assert from 'node:assert/strict';
import { launch, withTv, res, done, startDomainScan } from './harness.mjs';

let browser;
before(async () => { browser = await launch(); });
after(async () => { await browser.close(); });

const T0 = new Date(2025, 0, 31, 9, 42, 5);
const tiles = tv => tv.api(() => Array.from(document.querySelectorAll('#domStats .tile'))
  .map(t => t.querySelector('.cap').textContent + ' = ' + t.querySelector('.big').textContent));
const rowTexts = tv => tv.api(() => Array.from(document.querySelectorAll('#domBody tr'))
  .map(tr => Array.from(tr.cells).map(td => td.textContent)));
const logLines = tv => tv.api(() => Array.from(document.querySelectorAll('#domLog div')).map(d => d.textContent));
const scanCount = async tv => (await tv.postedFields()).filter(f => f[0] === 'scan').length;

test('list format: groups, comments, case, duplicates; an empty list starts nothing', async () => {
  await withTv(browser, {}, async tv => {
    const list = [
      'Top.Example', '# [World] Control', 'Google.COM', '# a comment without brackets', 'dup.org', ' dup.org ',
      'host#frag.net', '# [ru] r', '   ', 'ya.ru', '#[cloud_2]x', 'c.ru', '# x [bad id] [Ok_1] [z]', 'z.ru', '|pipe.ru',
    ].join('\r\n');
    const { fields, jobs } = await startDomainScan(tv, list);
    assert.deepEqual(fields.slice(0, 6), ['scan', '1', 'domains', '4000', '16', '1']);
    assert.deepEqual(jobs, ['top.example', 'google.com', 'dup.org', 'dup.org', 'host#frag.net', 'ya.ru', 'c.ru', 'z.ru']);
    assert.ok(fields[6].split('\n').every(l => { const [h, s] = l.split('|'); return h === s; }), 'SNI = host');
    assert.deepEqual((await rowTexts(tv)).map(r => r.slice(0, 3).concat(r[r.length - 2])), [
      ['top.example', 'custom', 'ожидает…', '…'], ['google.com', 'world', 'ожидает…', '…'],
      ['dup.org', 'world', 'ожидает…', '…'], ['dup.org', 'world', 'ожидает…', '…'],
      ['host#frag.net', 'world', 'ожидает…', '…'], ['ya.ru', 'ru', 'ожидает…', '…'],
      ['c.ru', 'cloud_2', 'ожидает…', '…'], ['z.ru', 'ok_1', 'ожидает…', '…'],
    ]);
    assert.deepEqual(await tiles(tv), ['Свои · проходят = 0 / 1', 'Контроль (мир) · проходят = 0 / 4',
      'Российские · проходят = 0 / 1', 'cloud_2 · проходят = 0 / 1', 'ok_1 · проходят = 0 / 1']);
    await tv.send(done(1, true));

    await tv.fill('#domList', '# [ru] nothing\n\n   \n# more');
    await tv.clearPosted();
    await tv.click('#btnDom');
    assert.equal(await tv.toast(), 'Список доменов пуст');
    assert.deepEqual(await tv.posted(), []);
    assert.equal(await tv.api(() => document.getElementById('btnDom').disabled), false);
  });
});

test('the default list: 39 hosts in the groups ru, cloud, host, world', async () => {
  await withTv(browser, {}, async tv => {
    await tv.tab('domains');
    await tv.click('#btnDom');
    const f = await tv.lastPosted('scan');
    assert.equal(f[6].split('\n').length, 39);
    assert.deepEqual(await tiles(tv), ['Российские · проходят = 0 / 17', 'Облака / CDN · проходят = 0 / 7',
      'Хостинги / VPS · проходят = 0 / 7', 'Контроль (мир) · проходят = 0 / 8']);
  });
});

test('a result rebuilds its own row; cells, certificate marks, HTTP column', async () => {
  await withTv(browser, {}, async tv => {
    const { run } = await startDomainScan(tv, 'a.ru\nb.ru\nc.ru\nd.ru');
    await tv.send(
      res(run, 1, 'b.ru', 'pass', { http: 'skip', httpMs: -1, httpCode: 0, certOk: false, cert: 'other.example' }),
      res(run, 2, 'c.ru', 'blocked', { ip: '', dns: 'nx', dnsMs: 7, tcp: 'skip', tcpMs: -1, tlsDetail: 'DNS: nx' }),
      res(run, 3, 'd.ru', 'partial'),
      res(run, 9, 'z.ru'));
    const rows = await rowTexts(tv);
    // The last column is the transfer test's; a result without its keys shows a dash.
    assert.deepEqual(rows[0], ['a.ru', 'custom', 'ожидает…', '…', '']);
    assert.deepEqual(rows[1], ['b.ru', 'custom', '10.0.0.2', 'ok 12мс', 'ok 25мс', 'ok 60мс', '—', 'other.example ⚠', 'ПРОХОДИТ', '—']);
    assert.deepEqual(rows[2], ['c.ru', 'custom', '—', 'nx', '—', '—', '—', '—', 'БЛОК', '—']);
    assert.deepEqual(rows[3], ['d.ru', 'custom', '10.0.0.4', 'ok 12мс', 'ok 25мс', 'ok 60мс', 'timeout', 'd.ru ✓', 'ЧАСТИЧНО', '—']);
    const attrs = await tv.api(() => ({
      warnTip: document.querySelector('#dr1 .certbad').title,
      verdictCls: document.querySelector('#dr3 td:nth-last-child(2)').className,
      httpTip: document.querySelector('#dr3 td:nth-child(7) .chip').title,
    }));
    assert.deepEqual(attrs, { warnTip: 'сертификат не прошёл проверку (подмена или чужой хост)', verdictCls: 'v partial', httpTip: 'read timeout' });
    // The result without a row still counted and updated the statistics.
    assert.equal(await tv.text('#domProg'), '4 / 4 (100%)');
    assert.deepEqual(await tiles(tv), ['Свои · проходят = 1 / 4']);

    await tv.send(res(run, 0, 'a.ru', 'constructor', { httpCode: 301, httpMs: 90 }));
    const r0 = (await rowTexts(tv))[0];
    assert.equal(r0[6], '301 · 90мс');
    assert.equal(r0[8], 'constructor', 'an unknown verdict is shown as is');
  });
});

test('the pill follows the status during a scan and is reset by the next start', async () => {
  await withTv(browser, {}, async tv => {
    const pill = () => tv.api(() => [document.getElementById('pill').className, document.getElementById('pillTxt').textContent]);
    const list = '# [ru]\nr1.ru\nr2.ru\n# [world]\nw1.com\nw2.com\nw3.com\nw4.com';
    let { run } = await startDomainScan(tv, list);
    await tv.send(res(run, 0, 'r1.ru', 'dpi'));
    assert.deepEqual(await pill(), ['pill s-dead', 'СЕТИ НЕТ или режется всё']);
    await tv.send(res(run, 1, 'r2.ru', 'pass'));
    assert.deepEqual(await pill(), ['pill s-part', 'ЧАСТИЧНО · 1/2']);
    await tv.send(res(run, 2, 'w1.com', 'pass'), res(run, 3, 'w2.com', 'dpi'), res(run, 4, 'w3.com', 'dpi'), res(run, 5, 'w4.com', 'blocked'));
    assert.deepEqual(await pill(), ['pill s-wl', 'БЕЛЫЕ СПИСКИ · мир 1/4 · ru 1/2']);
    await tv.send(done(run));
    ({ run } = await startDomainScan(tv, list));
    assert.deepEqual(await pill(), ['pill s-unk', 'Статус неизвестен — запусти скан']);
    await tv.send(res(run, 2, 'w1.com', 'pass'), res(run, 3, 'w2.com', 'reach'), res(run, 4, 'w3.com', 'dpi'));
    assert.deepEqual(await pill(), ['pill s-open', 'ОТКРЫТО · мир 2/3']);
    // Basic tests and matrix runs leave the pill alone.
    await tv.send(done(run));
    await tv.tab('basics');
    await tv.click('#btnBasics');
    await tv.send(done(run + 1));
    assert.deepEqual(await pill(), ['pill s-open', 'ОТКРЫТО · мир 2/3']);
  });
});

test('change log: first scan, no change, changes counted by position, stopped scans ignored', async () => {
  await withTv(browser, {}, async tv => {
    const scan = async (list, verdicts, cancelled = false) => {
      const { run, jobs } = await startDomainScan(tv, list);
      await tv.send(...jobs.map((h, i) => res(run, i, h, verdicts[i] || 'pass')), done(run, cancelled));
    };
    await scan('a.ru\nb.ru\nc.ru', []);
    await scan('a.ru\nb.ru\nc.ru', []);
    await scan('a.ru\nb.ru\nc.ru', ['pass', 'dpi', 'blocked']);
    await scan('a.ru\nb.ru\nc.ru', ['dpi', 'dpi', 'dpi'], true);
    await scan('a.ru\nb.ru\nc.ru\nd.ru', ['pass', 'dpi', 'blocked']);
    const lines = await logLines(tv);
    for (const l of lines) assert.match(l, /^\[\d\d:\d\d:\d\d\] /);
    assert.deepEqual(lines.map(l => l.slice(11)), [
      'ИЗМЕНЕНИЕ (1 шт.): ЧАСТИЧНО · 2/4',
      'ИЗМЕНЕНИЕ (2 шт.): ЧАСТИЧНО · 1/3',
      'Без изменений: ОТКРЫТО · 3/3',
      'Первый скан: ОТКРЫТО · 3/3',
    ]);
    assert.equal((await tv.postedFields()).filter(f => f[0] === 'save').length, 0, 'no snapshot without auto-scan');

    // A change while auto-scan is on saves a snapshot labelled "auto".
    await tv.click('#autoOn');
    await tv.clearPosted();
    await scan('a.ru\nb.ru\nc.ru\nd.ru', ['dpi']);
    const save = await tv.lastPosted('save');
    assert.match(save[1], /^scan_\d{8}_\d{6}_auto\.json$/);
    assert.equal(JSON.parse(save[2]).label, 'auto');
  });
});

test('change log keeps the newest 200 lines', async () => {
  await withTv(browser, {}, async tv => {
    await tv.tab('domains');
    await tv.fill('#domList', 'a.ru');
    await tv.api(() => {
      for (let i = 0; i < 205; i++) {
        document.getElementById('btnDom').click();
        const last = window.__posted[window.__posted.length - 1].split('\t');
        window.__tvSend({ t: 'done', run: Number(last[1]), cancelled: false });
      }
    });
    const lines = await logLines(tv);
    assert.equal(lines.length, 200);
    assert.equal(await tv.api(() => window.__tvTest.api.S.log.length), 200);
    assert.ok(lines.every(l => l.endsWith('Без изменений: Статус неизвестен — запусти скан')), 'the first-scan line was dropped');
  });
});

test('auto-scan: one interval after ticking, then one interval after each scan ends', async () => {
  await withTv(browser, { clock: T0 }, async tv => {
    await tv.tab('domains');
    await tv.fill('#domList', 'a.ru');
    await tv.clearPosted();
    await tv.click('#autoOn');
    assert.equal(await tv.toast(), 'Авто-скан включён');
    await tv.page.clock.runFor(5 * 60000 - 1000);
    assert.equal(await scanCount(tv), 0);
    await tv.page.clock.runFor(1000);
    assert.equal(await scanCount(tv), 1);
    await tv.page.clock.runFor(20 * 60000);
    assert.equal(await scanCount(tv), 1, 'no new scan while one is running');

    // The interval is read when the timer is armed, at the end of a scan.
    for (const [value, min] of [['2.7', 2], ['0', 5], ['', 5], ['-3', 1], ['7', 7]]) {
      await tv.fill('#autoMin', value);
      const run = Number((await tv.lastPosted('scan'))[1]);
      await tv.send(done(run));
      const before = await scanCount(tv);
      await tv.page.clock.runFor(min * 60000 - 1000);
      assert.equal(await scanCount(tv), before, value + ': too early');
      await tv.page.clock.runFor(1000);
      assert.equal(await scanCount(tv), before + 1, value + ': ' + min + ' min');
    }

    await tv.send(done(Number((await tv.lastPosted('scan'))[1])));
    const n = await scanCount(tv);
    await tv.click('#autoOn');
    assert.equal(await tv.toast(), 'Авто-скан выключен');
    await tv.page.clock.runFor(40 * 24 * 3600000);
    assert.equal(await scanCount(tv), n, 'unticking clears the timer');
  });
});

test('auto-scan retries every 15 s while it cannot start, and waits for a running test', async () => {
  await withTv(browser, { clock: T0 }, async tv => {
    await tv.api(() => {
      window.__toasts = [];
      new MutationObserver(() => window.__toasts.push(document.getElementById('toast').textContent))
        .observe(document.getElementById('toast'), { childList: true });
    });
    await tv.tab('domains');
    await tv.fill('#domList', '# [ru] empty');
    await tv.fill('#autoMin', '1');
    await tv.click('#autoOn');
    await tv.page.clock.runFor(60000 + 15000 * 2);
    assert.deepEqual(await tv.api(() => window.__toasts), ['Авто-скан включён', 'Список доменов пуст',
      'Список доменов пуст', 'Список доменов пуст']);
    await tv.fill('#domList', 'a.ru');
    await tv.clearPosted();
    await tv.page.clock.runFor(15000);
    assert.equal(await scanCount(tv), 1);
    await tv.click('#autoOn');

    // Ticked during a basic test: no timer until a domain scan ends.
    await tv.send(done(Number((await tv.lastPosted('scan'))[1])));
    await tv.tab('basics');
    await tv.click('#btnBasics');
    await tv.tab('domains');
    await tv.click('#autoOn');
    await tv.clearPosted();
    await tv.page.clock.runFor(3 * 60000);
    await tv.send(done(2));
    await tv.page.clock.runFor(3 * 60000);
    assert.equal(await scanCount(tv), 0);
    await tv.click('#btnDom');
    await tv.send(done(3));
    await tv.page.clock.runFor(60000);
    assert.equal(await scanCount(tv), 2);
  });
});

test('auto-scan: a minutes value beyond what a browser timer holds does not fire at once', async () => {
  // Real timers: a delay past 2^31 - 1 ms wraps around in the browser.
  await withTv(browser, {}, async tv => {
    await tv.tab('domains');
    await tv.fill('#domList', 'a.ru');
    await tv.fill('#autoMin', '40000');
    await tv.clearPosted();
    await tv.click('#autoOn');
    await tv.page.waitForTimeout(300);
    assert.equal(await scanCount(tv), 0);
  });
});

test('transfer test: the column, the frozen count in tile and pill, and the HTTP check it needs', async () => {
  await withTv(browser, {}, async tv => {
    const frozen = { xfer: 'frozen', down: 'frozen', downBytes: 16800, downMs: 40, downKbps: -1, up: 'skip',
      upBytes: -1, upMs: -1, upKbps: -1, upAcks: true };
    const { run, fields } = await startDomainScan(tv, '# [world] w\na.com\nb.com\nc.com');
    assert.equal(fields[7], '1');
    await tv.send(res(run, 0, 'a.com', 'pass', frozen),
      res(run, 1, 'b.com', 'pass', Object.assign({}, frozen, { xfer: 'slow', down: 'slow', downKbps: 140 })),
      res(run, 2, 'c.com', 'pass', Object.assign({}, frozen, { xfer: 'ok', down: 'ok', up: 'ok', downBytes: 70000 })));
    const col = (await rowTexts(tv)).map(r => r[r.length - 1]);
    assert.deepEqual(col, ['ЗАМОРОЗКА ↓≈16 КБ', 'МЕДЛЕННО ↓140 кбит/с', '64 КБ ✓']);
    assert.equal(await tv.text('#domStats .tile .cap.frozen'), '❄ 1 · данные встают');
    assert.equal(await tv.text('#pillXfer'), '❄ 1');
    // The status pill's own text is the status alone.
    assert.equal(await tv.text('#pillTxt'), 'ОТКРЫТО · мир 3/3');
    await tv.send(done(run));

    await tv.click('#domHttp');
    assert.equal(await tv.api(() => document.getElementById('domXfer').disabled), true);
    await tv.click('#btnDom');
    const f = await tv.lastPosted('scan');
    assert.deepEqual([f[5], f[7]], ['0', '0']);
  });
});
