// "Take ECG": takes a resting ECG, shows it as a 3 × 4 page and whether it
// reached the PACS, with a retry. The page is drawn from the DICOM file the
// service wrote, so what is shown is what the archive got.
import { sendCommand } from './api.js';

const LAYOUT = [['I', 'aVR', 'V1', 'V4'], ['II', 'aVL', 'V2', 'V5'], ['III', 'aVF', 'V3', 'V6']];

// The few elements of our own ECG files the page needs, from explicit-VR
// little-endian DICOM (what the service writes); null for anything else.
export function readEcgFile(buffer) {
  const view = new DataView(buffer);
  if (buffer.byteLength < 132 || new TextDecoder().decode(new Uint8Array(buffer, 128, 4)) !== 'DICM') return null;
  const long = new Set(['OB', 'OW', 'OF', 'SQ', 'UT', 'UN', 'UC', 'UR', 'OD', 'OL', 'OV', 'SV', 'UV']);
  const text = (at, len) => new TextDecoder().decode(new Uint8Array(buffer, at, len)).replace(/[\0 ]+$/, '');
  // Reads elements from `at` to `end` (or to a delimiter); returns [map, next offset].
  function parse(at, end) {
    const found = {};
    while (at + 8 <= end) {
      const group = view.getUint16(at, true);
      const element = view.getUint16(at + 2, true);
      const tag = ((group << 16) | element) >>> 0;
      if (group === 0xfffe) {
        const length = view.getUint32(at + 4, true);
        at += 8;
        if (element === 0xe00d || element === 0xe0dd) return [found, at];
        continue; // an item inside a sequence is handled by the sequence
      }
      const vr = String.fromCharCode(view.getUint8(at + 4), view.getUint8(at + 5));
      let length;
      if (long.has(vr)) {
        length = view.getUint32(at + 8, true);
        at += 12;
      } else {
        length = view.getUint16(at + 6, true);
        at += 8;
      }
      if (vr === 'SQ') {
        const items = [];
        const stop = length === 0xffffffff ? end : at + length;
        while (at + 8 <= stop) {
          const ig = view.getUint16(at, true);
          const ie = view.getUint16(at + 2, true);
          const il = view.getUint32(at + 4, true);
          at += 8;
          if (ig !== 0xfffe || ie === 0xe0dd) break;
          const [item, next] = parse(at, il === 0xffffffff ? stop : at + il);
          items.push(item);
          at = il === 0xffffffff ? next : at + il;
        }
        found[tag] = items;
        continue;
      }
      if (length === 0xffffffff) return null;
      found[tag] = { vr, at, length };
      at += length;
    }
    return [found, at];
  }
  const parsed = parse(132, buffer.byteLength);
  if (!parsed) return null;
  const top = parsed[0];
  const group = (top[0x54000100] || [])[0];
  if (!group || !group[0x54001010]) return null;
  const channels = view.getUint16(group[0x003a0005].at, true);
  const samples = view.getUint32(group[0x003a0010].at, true);
  const rate = Number(text(group[0x003a001a].at, group[0x003a001a].length));
  const definitions = group[0x003a0200] || [];
  const data = group[0x54001010];
  const leads = definitions.map((d, c) => {
    const sensitivity = Number(text(d[0x003a0210].at, d[0x003a0210].length)) || 1;
    const values = new Float32Array(samples);
    for (let s = 0; s < samples; s++) values[s] = view.getInt16(data.at + 2 * (s * channels + c), true) * sensitivity;
    return { label: d[0x003a0203] ? text(d[0x003a0203].at, d[0x003a0203].length) : `${c + 1}`, values };
  });
  const name = top[0x00100010] ? text(top[0x00100010].at, top[0x00100010].length) : '';
  return { rate, samples, leads, patient: name.split('^').filter(Boolean).join(' ') };
}

// The standard page: 25 mm/s, 10 mm/mV, four columns of 2.5 s, three rows,
// lead II as a rhythm strip below; leads not in the layout follow in rows.
export function drawPage(canvas, ecg) {
  const mm = 4; // pixels per millimetre
  const columns = 4;
  const columnSeconds = 2.5;
  const rowHeight = 30 * mm;
  const byLabel = new Map(ecg.leads.map((l) => [l.label, l]));
  const standard = LAYOUT.every((row) => row.every((label) => byLabel.has(label)));
  const rows = standard ? LAYOUT.map((row) => row.map((l) => byLabel.get(l)))
    : Array.from({ length: Math.ceil(ecg.leads.length / columns) }, (_, r) => ecg.leads.slice(r * columns, r * columns + columns));
  const rhythm = byLabel.get('II') || ecg.leads[0];
  const width = columns * columnSeconds * 25 * mm;
  const height = (rows.length + 1) * rowHeight + 10;
  canvas.width = width;
  canvas.height = height;
  const g = canvas.getContext('2d');
  g.fillStyle = '#fff';
  g.fillRect(0, 0, width, height);
  g.strokeStyle = '#f6caca';
  g.lineWidth = 1;
  for (let x = 0; x <= width; x += mm) {
    g.globalAlpha = x % (5 * mm) === 0 ? 1 : 0.35;
    g.beginPath(); g.moveTo(x, 0); g.lineTo(x, height); g.stroke();
  }
  for (let y = 0; y <= height; y += mm) {
    g.globalAlpha = y % (5 * mm) === 0 ? 1 : 0.35;
    g.beginPath(); g.moveTo(0, y); g.lineTo(width, y); g.stroke();
  }
  g.globalAlpha = 1;
  const trace = (lead, x0, x1, y0, fromSample) => {
    if (!lead) return;
    g.strokeStyle = '#000';
    g.lineWidth = 1.2;
    g.beginPath();
    const pxPerSample = (25 * mm) / ecg.rate;
    const count = Math.min(Math.floor((x1 - x0) / pxPerSample), lead.values.length - fromSample);
    for (let i = 0; i < count; i++) {
      const y = y0 - (lead.values[fromSample + i] / 1000) * 10 * mm;
      if (i === 0) g.moveTo(x0, y); else g.lineTo(x0 + i * pxPerSample, y);
    }
    g.stroke();
    g.fillStyle = '#000';
    g.font = '14px sans-serif';
    g.fillText(lead.label, x0 + 4, y0 - rowHeight / 2 + 16);
  };
  const columnWidth = width / columns;
  rows.forEach((row, r) => row.forEach((lead, c) => {
    trace(lead, c * columnWidth, (c + 1) * columnWidth, r * rowHeight + rowHeight / 2 + 5, Math.floor(c * columnSeconds * ecg.rate));
  }));
  trace(rhythm, 0, width, rows.length * rowHeight + rowHeight / 2 + 5, 0);
}

function pacsText(data) {
  if (data.Sent) return 'Sent to the PACS.';
  if (data.PacsStatus === 'notConfigured') return 'Kept; no PACS is configured.';
  return `Not sent to the PACS (${data.PacsStatus}): ${data.errortext || ''} The file is kept.`;
}

function install() {
  const cards = document.querySelector('#view-workflows .cards');
  if (!cards || document.getElementById('resting-ecg-card')) return;
  const card = document.createElement('div');
  card.className = 'card';
  card.id = 'resting-ecg-card';
  card.dataset.needs = 'TakeRestingEcg';
  card.innerHTML = `<h3>Resting ECG</h3>
    <div class="row"><label>Seconds <input id="ecg-seconds" type="number" min="5" max="60" value="10"></label>
      <button id="ecg-take">Take ECG</button> <button id="ecg-retry" hidden>Send to the PACS again</button></div>
    <pre class="result" id="ecg-status"></pre>
    <a id="ecg-file" hidden download></a>
    <canvas id="ecg-page" style="width:100%" hidden></canvas>`;
  cards.prepend(card);
  const status = card.querySelector('#ecg-status');
  const retry = card.querySelector('#ecg-retry');
  const link = card.querySelector('#ecg-file');
  const canvas = card.querySelector('#ecg-page');
  let fileName = '';

  const show = (answer) => {
    if (answer.status !== 'ok') {
      status.textContent = `${answer.errorcode || 'error'}: ${answer.errortext || answer.message || ''}`;
      return false;
    }
    status.textContent = `${answer.data.FileName}\n${pacsText(answer.data)}`;
    retry.hidden = answer.data.Sent || answer.data.PacsStatus === 'notConfigured';
    return true;
  };

  card.querySelector('#ecg-take').addEventListener('click', async (event) => {
    const button = event.currentTarget;
    const seconds = Number(card.querySelector('#ecg-seconds').value) || 10;
    button.disabled = true;
    retry.hidden = true;
    status.textContent = `Taking ${seconds} s of ECG…`;
    const answer = await sendCommand('TakeRestingEcg', { Seconds: seconds });
    button.disabled = false;
    if (!show(answer)) return;
    fileName = answer.data.FileName;
    link.href = answer.data.Url.replace(/^\//, '');
    link.textContent = `Download ${fileName}`;
    link.hidden = false;
    try {
      const res = await fetch(link.href);
      const ecg = res.ok ? readEcgFile(await res.arrayBuffer()) : null;
      if (ecg) {
        drawPage(canvas, ecg);
        canvas.hidden = false;
      }
    } catch {
      canvas.hidden = true;
    }
  });

  retry.addEventListener('click', async () => {
    retry.disabled = true;
    status.textContent = `${fileName}\nSending to the PACS…`;
    show(await sendCommand('SendToPacs', { FileName: fileName }));
    retry.disabled = false;
  });
}

install();
