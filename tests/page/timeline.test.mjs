// The status timeline above the snapshot list: read from the files
// themselves, one mark per readable snapshot, inert labels, opening on click.
import { test, before, after } from 'node:test';
import assert from 'node:assert/strict';
import { launch, withTv } from './harness.mjs';

let browser;
before(async () => { browser = await launch(); });
after(async () => { await browser.close(); });

const snapText = (created, k, txt, label) => JSON.stringify({ v: 1, created, label, status: { k, txt },
  domains: [], matrix: { ips: [], snis: [], cells: [] }, basics: [] });

const FILES = {
  'scan_20250101_090000.json': snapText('2025-01-01T09:00:00', 'open', 'ОТКРЫТО · мир 9/9', 'утро'),
  'scan_20250101_210000.json': snapText('2025-01-01T21:00:00', 'wl', 'БЕЛЫЕ СПИСКИ · мир 0/9', '<img src=x onerror=alert(1)>'),
  'scan_20250102_090000.json': snapText('2025-01-02T09:00:00', 'dead', 'СЕТИ НЕТ или режется всё', ''),
  'scan_20250102_150000.json': snapText('2025-01-02T15:00:00', 'part', 'ЧАСТИЧНО · мир 4/9', ''),
  'scan_20250103_090000_x.json': '{"v":1,"status":{"k":"open","txt":"ОТКРЫТО"}}',  // time from the name
  'scan_20250104_090000.json': '{broken',
};

const marks = tv => tv.api(() => Array.from(document.querySelectorAll('#timeline circle.tlm'))
  .map(c => ({ name: c.dataset.name, cls: c.getAttribute('class'), x: Number(c.getAttribute('cx')),
    tip: c.querySelector('title').textContent })));

test('timeline: reads every listed file once, marks the readable ones by time and status', async () => {
  await withTv(browser, {}, async tv => {
    await tv.tab('history');
    assert.equal(await tv.api(() => document.getElementById('timeline').hidden), true);
    await tv.clearPosted();
    const list = Object.keys(FILES).map(name => ({ name, size: 10 }));
    await tv.send({ t: 'files', list });
    await tv.send({ t: 'files', list }); // a second listing asks for nothing again
    const loads = (await tv.postedFields()).filter(f => f[0] === 'load').map(f => f[1]).sort();
    assert.deepEqual(loads, Object.keys(FILES).sort());
    for (const [name, data] of Object.entries(FILES)) await tv.send({ t: 'file', name, data });
    assert.notEqual(await tv.toast(), 'Файл повреждён: scan_20250104_090000.json', 'background reads stay quiet');

    const m = await marks(tv);
    assert.deepEqual(m.map(x => x.name + ' ' + x.cls), [
      'scan_20250101_090000.json tlm s-open', 'scan_20250101_210000.json tlm s-wl', 'scan_20250102_090000.json tlm s-dead',
      'scan_20250102_150000.json tlm s-part', 'scan_20250103_090000_x.json tlm s-open']);
    assert.ok(m.every((x, i) => i === 0 || x.x > m[i - 1].x), 'placed in time order');
    assert.match(m[1].tip, /^БЕЛЫЕ СПИСКИ · мир 0\/9 · <img src=x onerror=alert\(1\)> · 01\.01\.2025, 21:00:00$/);
    assert.equal(await tv.api(() => document.querySelectorAll('#timeline img').length), 0, 'the label stays text');

    // By time of day the three morning snapshots share one place.
    await tv.click('#tlMode');
    const d = await marks(tv);
    const at = n => d.find(x => x.name === n).x;
    assert.equal(at('scan_20250101_090000.json'), at('scan_20250102_090000.json'));
    assert.ok(at('scan_20250101_210000.json') > at('scan_20250102_150000.json'));

    // A click opens that snapshot like "Смотреть".
    await tv.clearPosted();
    await tv.page.dispatchEvent('#timeline circle[data-name="scan_20250102_150000.json"]', 'click');
    assert.deepEqual(await tv.lastPosted('load'), ['load', 'scan_20250102_150000.json']);
    await tv.send({ t: 'file', name: 'scan_20250102_150000.json', data: FILES['scan_20250102_150000.json'] });
    assert.match(await tv.text('#cmpOut'), /ЧАСТИЧНО · мир 4\/9/);

    // A deleted file leaves the timeline.
    await tv.send({ t: 'files', list: list.slice(1) });
    assert.equal((await marks(tv)).length, 4);
  });
});
