// Text from servers (certificate names, details, IP-information bodies) is
// shown as text: no element is created from it, nothing of it runs.
import { test, before, after } from 'node:test';
import assert from 'node:assert/strict';
import { launch, withTv, res, net, done, startDomainScan } from './harness.mjs';

let browser;
before(async () => { browser = await launch(); });
after(async () => { await browser.close(); });

const MARKUP = '<img src=x onerror="window.__pwned=1"><script>window.__pwned=2</script><b id="inj">b</b>';
const injected = tv => tv.api(() => ({
  pwned: window.__pwned || 0,
  elements: document.querySelectorAll('img[src="x"], #inj, script:not([src])').length -
    window.__tvScripts,
}));

test('markup in results, basic checks and the IP-information body stays text', async () => {
  await withTv(browser, {}, async tv => {
    await tv.api(() => { window.__tvScripts = document.querySelectorAll('script:not([src])').length; });
    const { run, jobs } = await startDomainScan(tv, 'a.ru\nb.ru');
    await tv.send(res(run, 0, jobs[0], 'pass', { cert: MARKUP + '\u001b]0;t\u0007', certOk: false }),
      res(run, 1, jobs[1], 'dpi', { tlsDetail: MARKUP, ip: MARKUP }), done(run));
    const rows = await tv.api(() => Array.from(document.querySelectorAll('#domBody tr')).map(tr => tr.textContent));
    assert.ok(rows[0].includes('<img src=x'), rows[0]);
    assert.ok(rows[1].includes('<script>'), rows[1]);

    await tv.tab('basics');
    await tv.click('#btnBasics');
    const b = Number((await tv.lastPosted('basics'))[1]);
    const deep = '['.repeat(100000) + ']'.repeat(100000);
    await tv.send(net(b, MARKUP, MARKUP, 'ok', 3, MARKUP),
      { t: 'ipinfo', run: b, body: JSON.stringify({ status: 'success', query: MARKUP, isp: MARKUP, as: MARKUP, country: MARKUP }) });
    const shown = await tv.api(() => [document.getElementById('bsBody').textContent,
      document.getElementById('bsInfo').textContent]);
    for (const text of shown) assert.ok(text.includes('<b id="inj">'), text);
    // A body of 1 MB and one nested 100,000 deep: the lookup counts as failed, the page lives on.
    for (const body of ['x'.repeat(1 << 20), deep]) {
      await tv.send({ t: 'ipinfo', run: b, body });
    }
    await tv.send(done(b));
    assert.deepEqual(await injected(tv), { pwned: 0, elements: 0 });
  });
});

test('a snapshot with markup in every string, one nested 100,000 deep, one of 32 MiB', async () => {
  await withTv(browser, {}, async tv => {
    await tv.api(() => { window.__tvScripts = document.querySelectorAll('script:not([src])').length; });
    const name = 'scan_20250131_094205_x.json';
    await tv.tab('history');
    await tv.send({ t: 'files', list: [{ name, size: 10 }] });
    const snap = {
      v: 1, created: MARKUP, label: MARKUP, status: { k: MARKUP, txt: MARKUP },
      domains: [{ host: MARKUP, group: MARKUP, verdict: MARKUP, ip: MARKUP, cert: MARKUP }],
      matrix: { ips: [MARKUP], snis: [MARKUP], cells: [{ ip: MARKUP, sni: MARKUP, verdict: MARKUP }] },
      basics: [{ group: MARKUP, name: MARKUP, state: MARKUP, detail: MARKUP }],
      ipinfo: { ip: MARKUP, isp: MARKUP, org: MARKUP, as: MARKUP },
    };
    await tv.click('button[data-act="view"]');
    await tv.send({ t: 'file', name, data: JSON.stringify(snap) });
    const out = await tv.api(() => document.getElementById('cmpOut').textContent);
    assert.ok(out.includes('<b id="inj">'), out);
    // Nested 100,000 deep, and 32 MiB cut off mid-string: the notice, and the page lives on.
    for (const data of ['['.repeat(100000) + ']'.repeat(100000), '{"v":1,"label":"' + 'x'.repeat(32 << 20) + '"']) {
      await tv.click('button[data-act="view"]');
      await tv.send({ t: 'file', name, data });
      assert.equal(await tv.toast(), 'Файл повреждён: ' + name);
    }
    assert.deepEqual(await injected(tv), { pwned: 0, elements: 0 });
  });
});
