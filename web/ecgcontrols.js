// The ECG view's controls: layout, speed, gain, filters, screen scale,
// freeze review and print.
import { CSS_PX_PER_MM } from './ecgpaper.js';

export function bindEcgControls(ecg, { recorderText = () => '' } = {}) {
  const $ = (id) => document.getElementById(id);
  const on = (id, fn) => $(id)?.addEventListener('change', (e) => fn(e.target.value));
  on('ecg-layout', (v) => ecg.setLayout(v));
  on('ecg-speed', (v) => ecg.setSpeed(v));
  on('ecg-gain', (v) => ecg.setGain(v));
  on('ecg-hp', (v) => ecg.setFilter('hp', v));
  on('ecg-notch', (v) => ecg.setFilter('notch', v));
  on('ecg-lp', (v) => ecg.setFilter('lp', v));

  // Screen scale: a bar meant to be 100 mm long, matched against a ruler.
  const pxmm = $('ecg-pxmm');
  const showRuler = () => {
    pxmm.value = ecg.settings.pxPerMm.toFixed(2);
    $('ecg-ruler').style.width = `${100 * ecg.settings.pxPerMm}px`;
  };
  showRuler();
  $('ecg-calibrate').addEventListener('click', () => {
    const box = $('ecg-ruler-box');
    box.hidden = !box.hidden;
    $('ecg-calibrate').setAttribute('aria-expanded', String(!box.hidden));
    showRuler();
  });
  pxmm.addEventListener('input', () => { if (ecg.setPxPerMm(pxmm.value)) $('ecg-ruler').style.width = `${100 * ecg.settings.pxPerMm}px`; });
  $('ecg-pxmm-reset').addEventListener('click', () => { ecg.setPxPerMm(CSS_PX_PER_MM); showRuler(); });

  $('ecg-print').addEventListener('click', () => {
    const report = ecg.report({ paper: $('ecg-paper-size').value, recorder: recorderText() });
    if (report) window.print();
  });
}
