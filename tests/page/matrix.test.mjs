// IP x SNI matrix view: job layout, limits, grid cells, notes, fill button.
import { test, before, after } from 'node:test';
import assert from 'node:assert/strict';
import { launch, withTv, res, done, startDomainScan } from './harness.mjs';

let browser;
before(async () => { browser = await launch(); });
after(async () => { await browser.close(); });

async function startMx(tv, ips, snis) {
  await tv.tab('matrix');
  if (ips !== undefined) await tv.fill('#mxIps', ips);
  if (snis !== undefined) await tv.fill('#mxSnis', snis);
  await tv.clearPosted();
  await tv.click('#btnMx');
  const f = await tv.lastPosted('scan');
  return f && { run: Number(f[1]), fields: f, jobs: f[6].split('\n') };
}

const noteTexts = tv => tv.api(() => Array.from(document.querySelectorAll('#mxNotes .note'))
  .map(n => n.className + ': ' + n.textContent));

test('default lists, address-major jobs with an empty SNI for "-", the empty grid', async () => {
  await withTv(browser, {}, async tv => {
    assert.equal((await tv.value('#mxIps')).split('\n').length, 13);
    assert.equal((await tv.value('#mxSnis')).split('\n').length, 12);
    const { fields, jobs } = await startMx(tv);
    assert.deepEqual(fields.slice(0, 6), ['scan', '1', 'matrix', '4000', '16', '0']);
    assert.equal(jobs.length, 9 * 12);
    assert.deepEqual(jobs.slice(0, 3), ['1.1.1.1|', '1.1.1.1|ya.ru', '1.1.1.1|vk.com']);
    assert.equal(jobs[12], '8.8.8.8|');
    assert.equal(jobs[4 * 12 + 1], '77.88.55.242|ya.ru', 'the comment after an address is cut');
    assert.equal(await tv.text('#mxProg'), '0 / 108 (0%)');
    const grid = await tv.api(() => ({
      head: Array.from(document.querySelectorAll('#mxTable thead th')).map(th => th.textContent).slice(0, 3),
      rows: document.querySelectorAll('#mxTable tbody tr').length,
      pending: document.querySelectorAll('#mxTable .cell.pend').length,
    }));
    assert.deepEqual(grid, { head: ['IP \\ SNI', '∅', 'ya.ru'], rows: 9, pending: 108 });
  });
});

test('limits: 3000 combinations start, 3050 do not; no address or no name starts nothing', async () => {
  await withTv(browser, {}, async tv => {
    const ips = n => Array.from({ length: n }, (_, i) => '10.0.' + (i >> 8) + '.' + (i & 255)).join('\n');
    const names = Array.from({ length: 50 }, (_, i) => 's' + i + '.example').join('\n');
    const ok = await startMx(tv, ips(60), names);
    assert.equal(ok.jobs.length, 3000);
    assert.equal(ok.jobs[2999], '10.0.0.59|s49.example');
    await tv.send(done(ok.run, true));
    assert.equal(await startMx(tv, ips(61), names), null);
    assert.equal(await tv.toast(), 'Слишком много комбинаций (макс. 3000)');
    assert.equal(await startMx(tv, '# only a comment', names), null);
    assert.equal(await tv.toast(), 'Нужны и IP, и SNI');
    assert.equal(await startMx(tv, '1.1.1.1', '  # nothing\n'), null);
    assert.equal(await tv.toast(), 'Нужны и IP, и SNI');
  });
});

test('results land in their cell by index; texts and tooltips; a stopped run leaves no notes', async () => {
  await withTv(browser, {}, async tv => {
    const { run, jobs } = await startMx(tv, 'a.example   # first\n\nb.example', ' - \n x.ru \nvk.com');
    assert.deepEqual(jobs, ['a.example|', 'a.example|x.ru', 'a.example|vk.com', 'b.example|', 'b.example|x.ru', 'b.example|vk.com']);
    await tv.send(
      res(run, 4, 'b.example', 'pass', { sni: 'x.ru', tlsMs: 33, cert: 'x.ru' }),
      res(run, 3, 'b.example', 'reach', { sni: '', tlsMs: -1, tlsDetail: '0x80090326' }),
      res(run, 2, 'a.example', 'dpi', { sni: 'vk.com', tlsDetail: 'closed by peer' }));
    const cell = (i, j) => tv.api(([i, j]) => {
      const c = document.querySelector('#mc_' + i + '_' + j + ' .cell');
      return [c.className, c.textContent, c.title];
    }, [i, j]);
    assert.deepEqual(await cell(1, 1), ['cell pass', 'OK 33', 'tcp:ok tls:ok cert:x.ru']);
    assert.deepEqual(await cell(1, 0), ['cell reach', 'ALERT', 'tcp:ok tls:alert (0x80090326)']);
    assert.deepEqual(await cell(0, 2), ['cell dpi', 'DPI', 'tcp:ok tls:reset (closed by peer)']);
    assert.deepEqual(await cell(0, 0), ['cell pend', '…', '']);
    await tv.send(done(run, true));
    assert.equal(await tv.html('#mxNotes'), '');
    assert.deepEqual(await cell(1, 1), ['cell pass', 'OK 33', 'tcp:ok tls:ok cert:x.ru']);

    // A finished run writes the notes; the next start clears grid and notes.
    const r2 = (await startMx(tv)).run;
    for (let i = 0; i < 6; i++) await tv.send(res(r2, i, i < 3 ? 'a.example' : 'b.example', 'pass', { sni: ['', 'x.ru', 'vk.com'][i % 3] }));
    await tv.send(done(r2));
    assert.equal((await noteTexts(tv)).length, 3);
    await startMx(tv);
    assert.equal(await tv.html('#mxNotes'), '');
    assert.equal(await tv.api(() => document.querySelectorAll('#mxTable .cell.pend').length), 6);
  });
});

test('notes: the "lifted" note first, and white names taken from the domain list', async () => {
  await withTv(browser, {}, async tv => {
    const run1 = async () => {
      const { run, jobs } = await startMx(tv, '1.1.1.1', '-\nvk.com\nmy.example\ngoogle.com');
      const v = { '': 'pass', 'vk.com': 'pass', 'my.example': 'pass', 'google.com': 'dpi' };
      await tv.send(...jobs.map((j, i) => { const sni = j.split('|')[1]; return res(run, i, '1.1.1.1', v[sni], { sni }); }), done(run));
      return noteTexts(tv);
    };
    assert.deepEqual(await run1(), ['note good: 1.1.1.1 — Пускает и белые, и чужие SNI (1/1 белых, 1/2 чужих). SNI не фильтруется — IP белый или фильтр сейчас снят.']);
    // my.example in the domain list's ru group makes it white.
    const d = await startDomainScan(tv, '# [ru]\nmy.example');
    await tv.send(done(d.run));
    assert.deepEqual(await run1(), ['note good: 1.1.1.1 — Фильтр по SNI: белые имена проходят (2/2), чужие режутся. Хороший знак: сервер где угодно + маскировка под белый SNI (Reality) может сработать.']);

    const { run, jobs } = await startMx(tv, '1.1.1.1\n8.8.8.8', '-\nvk.com\ngoogle.com');
    await tv.send(...jobs.map((j, i) => res(run, i, j.split('|')[0], 'pass', { sni: j.split('|')[1] })), done(run));
    const notes = await noteTexts(tv);
    assert.equal(notes.length, 3);
    assert.equal(notes[0], 'note warn: Всё проходит, похоже, белые списки сейчас сняты. Сохрани снимок как эталон, потом повторишь скан при блокировке и сравнишь.');
    assert.ok(notes[1].startsWith('note good: 1.1.1.1 — Пускает и белые, и чужие SNI (1/1 белых, 1/1 чужих).'));
    assert.ok(notes[2].startsWith('note good: 8.8.8.8 — '));
  });
});

test('fill: passing addresses of host, cloud, ru, custom in that order, at most 12, never twice', async () => {
  await withTv(browser, {}, async tv => {
    await tv.tab('matrix');
    await tv.click('#btnMxFill');
    assert.equal(await tv.toast(), 'Нет прошедших доменов, сначала сделай скан доменов');

    const list = ['# [world]', 'w.com', '# [ru]', 'r1.ru', 'r2.ru', 'r3.ru', '# [host]', 'h1.ru', 'h2.ru', '# [cloud]', 'c1.ru',
      '# [custom]', 'u1.ru', '# [ru]', ...Array.from({ length: 10 }, (_, i) => 'x' + i + '.ru')].join('\n');
    const { run, jobs } = await startDomainScan(tv, list);
    const ipOf = { 'w.com': '9.9.9.1', 'r1.ru': '2.2.2.1', 'r2.ru': '2.2.2.2', 'r3.ru': '2.2.2.1', 'h1.ru': '3.3.3.1',
      'h2.ru': '3.3.3.2', 'c1.ru': '4.4.4.1', 'u1.ru': '5.5.5.1' };
    await tv.send(...jobs.map((h, i) => {
      if (h === 'h2.ru') return res(run, i, h, 'dpi', { ip: '3.3.3.2' });
      if (h === 'r2.ru') return res(run, i, h, 'reach', { ip: '' });
      return res(run, i, h, 'pass', { ip: ipOf[h] || '6.6.6.' + i });
    }));
    await tv.tab('matrix');
    await tv.fill('#mxIps', '1.1.1.1\n4.4.4.1  # already here\n\n');
    await tv.click('#btnMxFill'); // works while the scan still runs
    assert.equal(await tv.toast(), 'Добавлено IP: 12');
    const expectAdded = ['3.3.3.1   # h1.ru', '2.2.2.1   # r1.ru', ...Array.from({ length: 10 }, (_, i) => '6.6.6.' + (i + 8) + '   # x' + i + '.ru')];
    assert.equal(await tv.value('#mxIps'), '1.1.1.1\n4.4.4.1  # already here\n# IP прошедших доменов\n' + expectAdded.join('\n'));

    // The second click finds only the one passing address not yet listed.
    const before = await tv.value('#mxIps');
    await tv.click('#btnMxFill');
    assert.equal(await tv.toast(), 'Добавлено IP: 1');
    assert.equal(await tv.value('#mxIps'), before + '\n# IP прошедших доменов\n5.5.5.1   # u1.ru');
    await tv.click('#btnMxFill');
    assert.equal(await tv.toast(), 'Нет прошедших доменов, сначала сделай скан доменов');
  });
});

test('fill after a scan where only world hosts passed adds nothing', async () => {
  await withTv(browser, {}, async tv => {
    const { run } = await startDomainScan(tv, '# [ru]\na.ru\n# [world]\nw.com');
    await tv.send(res(run, 0, 'a.ru', 'dpi'), res(run, 1, 'w.com', 'pass'), done(run));
    await tv.tab('matrix');
    const before = await tv.value('#mxIps');
    await tv.click('#btnMxFill');
    assert.equal(await tv.toast(), 'Нет прошедших доменов, сначала сделай скан доменов');
    assert.equal(await tv.value('#mxIps'), before);
  });
});

test('transfer test: a frozen cell carries its mark; the white frozen address gets the freeze note', async () => {
  await withTv(browser, {}, async tv => {
    const { run, fields } = await startMx(tv, 'a.example', 'vk.com\nx.ru');
    assert.equal(fields[7], '1');
    const fz = { xfer: 'frozen', down: 'frozen', downBytes: 16800, downKbps: -1, up: 'skip', upBytes: -1, upKbps: -1 };
    await tv.send(res(run, 0, 'a.example', 'pass', Object.assign({ sni: 'vk.com' }, fz)),
      res(run, 1, 'a.example', 'dpi', { sni: 'x.ru' }), done(run));
    const mark = await tv.api(() => {
      const m = document.querySelector('#mc_0_0 .xm');
      return [m.textContent, m.className];
    });
    assert.deepEqual(mark, ['❄', 'xm xf frozen']);
    const notes = await noteTexts(tv);
    assert.equal(notes.length, 1);
    assert.match(notes[0], /данные встают после ≈16 КБ — туннель на этот адрес работать не будет/);
    assert.doesNotMatch(notes[0], /Reality/);
  });
});
