// The measuring half of scripts/bench/ecgview.sh: drives headless Chromium
// on the live ECG view and prints what it cost to draw.
import { openConnectedUi, simControl } from '../../tests/browser/lib.mjs';

const seconds = Number(process.env.DASTEL_BENCH_SECONDS || 60);
const warmup = Number(process.env.DASTEL_BENCH_WARMUP || 60);
const frequency = Number(process.env.DASTEL_BENCH_FREQUENCY || 2000);
const FRAME_BUDGET_MS = 1000 / 60;
const TARGET_P95_MS = 8;

const { browser, page, cdp } = await openConnectedUi();
try {
  await page.waitForFunction(() => Number(document.getElementById('ecg-wrap').dataset.points || 0) > 0, null, { timeout: 20000, polling: 100 });
  const stats = () => page.evaluate(() => {
    const s = document.getElementById('view-live').ecgView.drawStats();
    return { ...s, leads: document.getElementById('ecg-lead-names').textContent };
  });
  const heap = async () => {
    await cdp.send('HeapProfiler.collectGarbage');
    return (await cdp.send('Runtime.getHeapUsage')).usedSize;
  };
  const dropped = async () => (await simControl('state')).model?.framesDropped ?? 0;

  await page.waitForTimeout(warmup * 1000);
  const heap0 = await heap();
  const s0 = await stats();
  const d0 = await dropped();
  const t0 = Date.now();
  await page.waitForTimeout(seconds * 1000);
  const s1 = await stats();
  const elapsed = (Date.now() - t0) / 1000;
  const heap1 = await heap();
  const d1 = await dropped();

  const frames = s1.frames - s0.frames;
  const times = s1.times.slice(-Math.min(frames, s1.times.length)).sort((a, b) => a - b);
  const q = (p) => times[Math.min(times.length - 1, Math.floor(p * times.length))];
  const mib = (b) => (b / 1048576).toFixed(2);
  const received = s1.total - s0.total;
  console.log(`ECG view at ${frequency} frames/s, leads: ${s1.leads}`);
  console.log(`measured ${elapsed.toFixed(1)} s after a ${warmup} s warm-up; ${frames} animation frames drawn (${(frames / elapsed).toFixed(1)}/s)`);
  console.log(`drawing time per animation frame: p50 ${q(0.5).toFixed(2)} ms, p95 ${q(0.95).toFixed(2)} ms, p99 ${q(0.99).toFixed(2)} ms, max ${times[times.length - 1].toFixed(2)} ms`
    + ` (over ${times.length} frames)`);
  console.log(`p95 / ${TARGET_P95_MS} ms target: ${(q(0.95) / TARGET_P95_MS).toFixed(2)}; p95 / frame budget ${FRAME_BUDGET_MS.toFixed(1)} ms: ${(q(0.95) / FRAME_BUDGET_MS).toFixed(2)}`);
  console.log(`samples received ${received} (${(received / elapsed).toFixed(0)}/s, expected ${frequency}/s); gaps in the stream ${s1.gaps - s0.gaps};`
    + ` recorder frames dropped ${d1 - d0}; newest sample drawn ${s1.drawn} of ${s1.total} received`);
  console.log(`taking in signal messages (leads derived, filters): ${(s1.handleMs - s0.handleMs).toFixed(0)} ms in ${elapsed.toFixed(1)} s`
    + ` (${(((s1.handleMs - s0.handleMs) / (elapsed * 1000)) * 100).toFixed(2)} % of the time)`);
  console.log(`JS heap after GC: after the first minute ${mib(heap0)} MiB, at the end ${mib(heap1)} MiB, change ${mib(heap1 - heap0)} MiB`);
} finally {
  await browser.close();
}
