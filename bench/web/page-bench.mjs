// page-bench.mjs SITE-DIR [ROUNDS]
//
// What the page itself costs, in Debian's Chromium on this machine: whole updates against a unit
// that answers every request at once inside the browser (tests/web/stand-in-unit.mjs), so that
// the time is the page's own: the WebAssembly core, its threads' switches, the page's drawing, the browser's event
// delivery. With the tab visible and hidden. Prints one line per figure; see bench/README.md.
import {statSync, readFileSync} from 'node:fs';
import {gzipSync} from 'node:zlib';
import path from 'node:path';

import {Browser, serveFolder} from '../../tests/web/browser.mjs';
import {PageSession, sessionSeconds} from '../../tests/web/page-session.mjs';
import {standInUnit} from '../../tests/web/stand-in-unit.mjs';

const [site, roundsText] = process.argv.slice(2);
const rounds = Number(roundsText || 3);
const chromium = process.env.CHROMIUM || '/usr/lib/chromium/chromium';

function median(values) {
  const sorted = [...values].sort((a, b) => a - b);
  return sorted[Math.floor((sorted.length - 1) / 2)];
}

const wasm = readFileSync(path.join(site, 'kv5updater.wasm'));
const script = readFileSync(path.join(site, 'kv5updater.js'));
console.log(`module: kv5updater.wasm ${wasm.length} bytes (gzip -9 ${gzipSync(wasm, {level: 9}).length}), ` +
  `kv5updater.js ${script.length} bytes (gzip -9 ${gzipSync(script, {level: 9}).length}); ` +
  `page files ${['index.html', 'page.js', 'page.css'].map((f) => statSync(path.join(site, f)).size).reduce((a, b) => a + b)} bytes`);

const server = await serveFolder(site);
const browser = await Browser.launch(chromium, {window: '900,720'});
try {
  const tab = await browser.open(server.origin + '/', {beforeLoad: standInUnit()});
  const other = (await browser.send('Target.createTarget', {url: 'about:blank'})).targetId;
  await browser.send('Target.activateTarget', {targetId: tab.targetId});
  const page = new PageSession(tab);
  const loadStart = Date.now();
  await page.connect(60000);
  console.log(`dialog ready ${Date.now() - loadStart} ms after the page had loaded (module compiled meanwhile)`);
  const results = {visible: [], hidden: []};
  for (let round = 0; round < rounds; round++) {
    for (const hidden of [false, true]) {
      await browser.send('Target.activateTarget', {targetId: hidden ? other : tab.targetId});
      await tab.waitFor(`document.visibilityState === '${hidden ? 'hidden' : 'visible'}'`, 10000);
      if (round > 0 || hidden) {
        await tab.click('#rescan');
        await page.selectPorts('TELVOR Q9', 'TELVOR Q9');
      }
      const first = await page.startUpdate();
      const boxes = await page.sessionEnd(first, 300000);
      if (boxes.length) throw new Error('the update failed: ' + JSON.stringify(boxes));
      const log = await page.log();
      const marks = await page.marks();
      const session = sessionSeconds(log);
      const chunks = (log.match(/-> write /g) || []).length;
      results[hidden ? 'hidden' : 'visible'].push({session, chunks,
        firstRequestMs: marks.firstSent - marks.answered});
    }
  }
  for (const [name, list] of Object.entries(results)) {
    // The session includes the unit's 500 ms pause after it enters update mode.
    const session = median(list.map((r) => r.session));
    console.log(`${name}: session ${session.toFixed(3)} s for ${list[0].chunks} chunks ` +
      `(${((session - 0.5) * 1000 / list[0].chunks).toFixed(2)} ms a chunk beside the 500 ms pause), ` +
      `first request ${median(list.map((r) => r.firstRequestMs)).toFixed(1)} ms after the Yes; ` +
      `runs ${list.map((r) => r.session.toFixed(3)).join(' ')}`);
  }
} finally {
  await browser.close();
  await server.close();
}
