// Watches the UI's JavaScript heap while it plots the live signal, to show
// that a long session does not grow memory. Prints start, end and peak.
import { mkdirSync, writeFileSync } from 'node:fs';
import { join } from 'node:path';
import { openConnectedUi, ARTIFACTS } from './lib.mjs';

const seconds = Number(process.env.DASTEL_HEAP_SECONDS || 120);
const step = 10;

const { browser, page, cdp } = await openConnectedUi();
try {
  await page.waitForSelector('.plot-wrap canvas', { timeout: 20000 });
  await page.waitForTimeout(3000); // let the first plots and lists settle

  const sample = async () => {
    await cdp.send('HeapProfiler.collectGarbage');
    const { usedSize } = await cdp.send('Runtime.getHeapUsage');
    const view = await page.evaluate(() => ({
      points: Number(document.querySelector('.plot-wrap')?.dataset.points || 0),
      rate: document.getElementById('rate').textContent,
      jsHeap: performance.memory?.usedJSHeapSize ?? null,
    }));
    return { t: Math.round((Date.now() - t0) / 1000), usedSize, ...view };
  };
  const t0 = Date.now();
  const samples = [await sample()];
  while (Date.now() - t0 < seconds * 1000) {
    await page.waitForTimeout(step * 1000);
    samples.push(await sample());
  }
  const first = samples[0];
  const last = samples[samples.length - 1];
  const peak = Math.max(...samples.map((s) => s.usedSize));
  const mib = (b) => (b / 1048576).toFixed(2);
  for (const s of samples) console.log(`t=${s.t}s heap=${mib(s.usedSize)} MiB points=${s.points} ${s.rate}`);
  console.log(`heap after GC: start ${mib(first.usedSize)} MiB, end ${mib(last.usedSize)} MiB, peak ${mib(peak)} MiB; `
    + `${last.points - first.points} points plotted in ${last.t - first.t} s`);
  mkdirSync(ARTIFACTS, { recursive: true });
  writeFileSync(join(ARTIFACTS, 'heap.json'), JSON.stringify(samples, null, 2));
} finally {
  await browser.close();
}
