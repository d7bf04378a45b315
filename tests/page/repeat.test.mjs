// Repeated tries and the made-up SNI: the "Повторов" fields, the unstable
// marks and tiles, the "?" column, its note, the snapshot and the report.
import { test, before, after } from 'node:test';
import assert from 'node:assert/strict';
import { launch, withTv, res, done, startDomainScan } from './harness.mjs';

let browser;
before(async () => { browser = await launch(); });
after(async () => { await browser.close(); });

test('domains: the repeat field is sent bounded; unstable rows are marked and counted apart', async () => {
  await withTv(browser, {}, async tv => {
    // One try keeps the command as it was: no optional field past dnscheck's defaults.
    let s = await startDomainScan(tv, '# [world] w\na.com\nb.com\nc.com');
    assert.equal(s.fields[9], '1');
    await tv.send(done(s.run));
    await tv.fill('#domRepeat', '25');
    s = await startDomainScan(tv, '# [world] w\na.com\nb.com\nc.com');
    assert.equal(s.fields[9], '10');
    await tv.send(res(s.run, 0, 'a.com', 'pass', { tries: 10, passes: 4 }));
    await tv.send(res(s.run, 1, 'b.com', 'dpi', { tries: 10, passes: 0 }));
    await tv.send(res(s.run, 2, 'c.com', 'pass', { tries: 10, passes: 10 }));
    const got = await tv.api(() => ({
      marks: Array.from(document.querySelectorAll('#domBody tr')).map(tr => tr.cells[8].textContent),
      caps: Array.from(document.querySelectorAll('#domStats .tile .cap')).map(c => c.textContent),
    }));
    assert.deepEqual(got.marks, ['ПРОХОДИТ нестабильно 4/10', 'DPI / СБРОС', 'ПРОХОДИТ']);
    assert.deepEqual(got.caps, ['Контроль (мир) · проходят', '≈ 1 · нестабильно']);
    const snap = await tv.api(() => window.__tvTest.api.makeSnapshot(''));
    assert.deepEqual(snap.domains.map(d => [d.tries, d.passes]), [[10, 4], [10, 0], [10, 10]]);
    assert.deepEqual(Object.keys(snap.domains[0]).slice(-2), ['tries', 'passes']);
    assert.match(await tv.api(() => window.__tvTest.api.buildReport()), /a\.com -> .*попыток 4\/10\) НЕСТАБИЛЬНО/);
  });
});

test('matrix: "?" is a fresh made-up name per run, shown in the head; its note and the snapshot', async () => {
  await withTv(browser, {}, async tv => {
    await tv.tab('matrix');
    await tv.fill('#mxIps', '1.1.1.1');
    await tv.fill('#mxSnis', 'vk.com\ngoogle.com\n?');
    await tv.fill('#mxRepeat', '3');
    const names = [];
    let run, jobs;
    for (let k = 0; k < 2; k += 1) {
      await tv.clearPosted();
      await tv.click('#btnMx');
      const f = await tv.lastPosted('scan');
      run = Number(f[1]);
      jobs = f[6].split('\n');
      assert.equal(f[9], '3');
      assert.deepEqual(jobs.slice(0, 2), ['1.1.1.1|vk.com', '1.1.1.1|google.com']);
      assert.match(jobs[2], /^1\.1\.1\.1\|[a-z]{10}\.(com|net|org|info|io|ru)$/);
      names.push(jobs[2].split('|')[1]);
      const head = await tv.api(() => document.querySelectorAll('#mxTable thead th')[3].textContent);
      assert.equal(head, '? ' + names[k]);
      if (k === 0) await tv.send(done(run, true));
    }
    assert.notEqual(names[0], names[1]);
    const rnd = names[1];
    await tv.send(res(run, 0, '1.1.1.1', 'pass', { sni: 'vk.com', tries: 3, passes: 3 }));
    await tv.send(res(run, 1, '1.1.1.1', 'dpi', { sni: 'google.com', tries: 3, passes: 0 }));
    await tv.send(res(run, 2, '1.1.1.1', 'pass', { sni: rnd, tries: 3, passes: 3 }));
    await tv.send(done(run));
    const cells = await tv.api(() => Array.from(document.querySelectorAll('#mxTable tbody td')).map(td => td.textContent));
    assert.equal(cells[1], 'DPI');
    assert.match(cells[2], /^OK \d+$/);
    const notes = await tv.api(() => Array.from(document.querySelectorAll('#mxNotes .note')).map(n => n.textContent));
    assert.equal(notes[0], '1.1.1.1 — Фильтр по имени — чёрный список: случайное имя проходит, ' +
      'режутся только имена из списка: google.com.');
    const snap = await tv.api(() => window.__tvTest.api.makeSnapshot(''));
    assert.deepEqual(snap.matrix.snis, ['vk.com', 'google.com', rnd]);
    assert.equal(snap.matrix.rand, rnd);
    assert.deepEqual(snap.matrix.cells.map(c => c.passes), [3, 0, 3]);
    assert.match(await tv.api(() => window.__tvTest.api.buildReport()), new RegExp('\\?' + rnd.replace('.', '\\.') + '=OK'));
  });
});
