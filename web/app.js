import { sendCommand, openStream, parseByteText, templateFor } from './api.js';
import { EcgView } from './ecg.js';
import { bindEcgControls } from './ecgcontrols.js';

const $ = (id) => document.getElementById(id);
const show = (el, obj) => { el.textContent = typeof obj === 'string' ? obj : JSON.stringify(obj, null, 2); };

const state = { connected: null, commands: null, lastAnswer: null, buttonPushes: 0 };

// ---------- views ----------
document.querySelectorAll('nav button[data-view]').forEach((b) => {
  b.addEventListener('click', () => {
    document.querySelectorAll('nav button[data-view]').forEach((o) => o.classList.toggle('active', o === b));
    document.querySelectorAll('.view').forEach((v) => { v.hidden = v.id !== `view-${b.dataset.view}`; });
    if (b.dataset.view === 'live') ecg.resize();
  });
});

function setPill(id, label, st) {
  const el = $(id);
  el.textContent = `${label}: ${st}`;
  el.dataset.state = st;
}

// ---------- errors ----------
function addError(kind, message) {
  const li = document.createElement('li');
  li.textContent = `${new Date().toLocaleTimeString()}  ${kind}: ${message}`;
  $('error-list').prepend(li);
  while ($('error-list').children.length > 50) $('error-list').lastChild.remove();
  $('errors').hidden = false;
}
$('clear-errors').addEventListener('click', () => { $('error-list').replaceChildren(); $('errors').hidden = true; });

// ---------- device status ----------
const fmt2 = (n) => String(n).padStart(2, '0');
let clockBase = null; // [device time in ms, performance.now() when read]

function answerText(a) {
  return a.status === 'ok' ? null : (a.errorcode === 'NOT_EXIST' ? 'not available' : `error: ${a.errorcode}`);
}

async function readClock() {
  const a = await sendCommand('GetTime');
  if (a.status === 'ok' && a.data) {
    const d = a.data;
    clockBase = [Date.UTC(d.Year, d.Month - 1, d.Day, d.Hours, d.Minutes, d.Seconds), performance.now()];
    tickClock();
  } else {
    clockBase = null;
    $('dev-clock').textContent = answerText(a);
    if (a.errorcode === 'DEVICE_DISCONNECTED') setConnected(false);
  }
  return a;
}

function tickClock() {
  if (!clockBase || !state.connected) return;
  const t = new Date(clockBase[0] + (performance.now() - clockBase[1]));
  $('dev-clock').textContent = `${t.getUTCFullYear()}-${fmt2(t.getUTCMonth() + 1)}-${fmt2(t.getUTCDate())} `
    + `${fmt2(t.getUTCHours())}:${fmt2(t.getUTCMinutes())}:${fmt2(t.getUTCSeconds())}`;
}
setInterval(tickClock, 1000);

async function readPower() {
  const a = await sendCommand('GetPower');
  $('dev-power').textContent = a.status === 'ok' ? `${a.data?.Power ?? '?'} mV` : answerText(a);
}

async function readWriting() {
  const a = await sendCommand('GetWritingState');
  $('dev-writing').textContent = a.status === 'ok' ? (a.data?.WritingState ?? '?') : answerText(a);
  return a;
}

async function readDevInfo() {
  const a = await sendCommand('GetDevInfo');
  if (a.status === 'ok' && a.data) {
    $('dev-name').textContent = `${a.data.Name ?? ''} #${a.data.Number ?? '?'} (type ${a.data.Type ?? '?'}, hw ${a.data.HardVer ?? '?'}, sw ${a.data.SoftVer ?? '?'})`;
    show($('devinfo'), a.data);
  } else {
    $('dev-name').textContent = answerText(a);
    show($('devinfo'), a);
  }
}

const offered = (name) => !state.commands || state.commands.has(name);

// Device commands are sent one after another: the recorder answers one at a
// time anyway. Optional reads are skipped when the service does not offer
// them, so probing does not fill the error list.
async function refreshAll() {
  const t = await readClock();
  if (t.errorcode === 'DEVICE_DISCONNECTED' || t.errorcode === 'NO_SERVICE') return;
  if (state.connected === null) setConnected(true);
  await loadCommands();
  const reads = [['GetDevInfo', readDevInfo, 'dev-name'], ['GetPower', readPower, 'dev-power'],
    ['GetWritingState', readWriting, 'dev-writing']];
  if (offered('ReadCableExist')) {
    // Cable events only report changes; read the present state once.
    const c = await sendCommand('ReadCableExist');
    if (c.status === 'ok' && typeof c.data?.IsExist === 'boolean') {
      setPill('cable-state', 'cable', c.data.IsExist ? 'connected' : 'disconnected');
    }
  }
  for (const [name, read, cell] of reads) {
    if (offered(name)) await read();
    else $(cell).textContent = 'not offered by this service';
  }
  await readRecordingState();
  await readEcgContext();
  loadFiles();
}
$('refresh-info').addEventListener('click', refreshAll);

function setConnected(on) {
  const changed = state.connected !== on;
  state.connected = on;
  setPill('dev-state', 'recorder', on ? 'connected' : 'disconnected');
  document.body.classList.toggle('offline', !on);
  if (!on) {
    clockBase = null;
    for (const id of ['dev-clock', 'dev-power', 'dev-writing', 'dev-name']) $(id).textContent = '—';
    setPill('cable-state', 'cable', 'unknown');
  }
  return changed;
}

// Battery and recording state change slowly; the clock runs locally between reads.
setInterval(() => {
  if (!state.connected) return;
  if (offered('GetPower')) readPower();
  if (offered('GetWritingState')) readWriting();
}, 30000);
setInterval(() => { if (state.connected) readClock(); }, 60000);

// ---------- event stream ----------
function handleEvent(msg) {
  if (!msg || msg.type !== 'event') return;
  const items = Array.isArray(msg.data) ? msg.data : [msg.data];
  for (const ev of items) {
    if (!ev || typeof ev !== 'object') continue;
    switch (ev.type) {
      case 'deviceConnect':
        setConnected(true);
        ecg.reset();
        refreshAll();
        break;
      case 'deviceDisconnect':
        setConnected(false);
        ecg.signalLost();
        break;
      case 'cableConnect': setPill('cable-state', 'cable', 'connected'); break;
      case 'cableDisconnect': setPill('cable-state', 'cable', 'disconnected'); break;
      case 'buttonPush':
        state.buttonPushes++;
        $('buttons').textContent = `button pushes: ${state.buttonPushes} (last frame ${ev.data?.frameCounter ?? '?'})`;
        ecg.markButton();
        break;
      case 'error':
        addError(ev.errorType || 'error', ev.message || '');
        break;
      case 'signalRecording':
        recordingEnded(ev);
        break;
      case 'flashReadout': {
        // A finished memory read-out: offer the file for download.
        const link = $('readout-link');
        link.href = ev.url || '/flash/latest';
        link.textContent = `Download ${ev.file || 'recording'} (${ev.size ?? '?'} bytes)`;
        link.hidden = false;
        loadFiles();
        break;
      }
      default:
        break;
    }
  }
}

const streams = { adc: false, event: false };
function streamState(kind, on) {
  streams[kind] = on;
  const st = streams.adc && streams.event ? 'open' : (streams.adc || streams.event ? 'partial' : 'closed');
  setPill('stream-state', 'streams', st);
  if (kind === 'event' && on) refreshAll(); // events are edges: read the state we missed
}

// ---------- live ECG ----------
const ecg = new EcgView($('view-live'), {
  onStats: ({ rate, channels, lost }) => {
    const gaps = channels.reduce((a, c) => a + c.gaps, 0);
    const text = lost ? '0 points/s (signal lost)' : `${Math.round(rate)} points/s${gaps ? `, ${gaps} gaps` : ''}`;
    if ($('rate').textContent !== text) $('rate').textContent = text;
  },
  onExamination: () => readEcgContext(),
});
bindEcgControls(ecg, { recorderText: () => $('dev-name').textContent });
$('pause').addEventListener('click', () => {
  ecg.setPaused(!ecg.paused);
  $('pause').textContent = ecg.paused ? 'Resume' : 'Pause';
});

openStream('adc', { binary: true, onMessage: (m) => ecg.handleMessage(m), onState: (on) => streamState('adc', on) });
openStream('event', { binary: true, onMessage: (m) => { ecg.handleEvent(m); handleEvent(m); }, onState: (on) => streamState('event', on) });

// ---------- command console ----------
async function loadCommands() {
  const a = await sendCommand('GetCmdList');
  if (a.status !== 'ok' || !Array.isArray(a.data)) return;
  state.commands = new Map(a.data.filter((d) => d && d.cmd).map((d) => [d.cmd, d]));
  const sel = $('cmd-select');
  const current = sel.value;
  sel.replaceChildren(...[...state.commands.keys()].sort().map((n) => new Option(n, n)));
  if (current && state.commands.has(current)) sel.value = current;
  // Workflow buttons for commands this service does not offer say so up front.
  document.querySelectorAll('[data-cmd]').forEach((b) => {
    b.classList.toggle('missing', !state.commands.has(b.dataset.cmd));
    b.title = state.commands.has(b.dataset.cmd) ? '' : `${b.dataset.cmd} is not offered by this service`;
  });
  document.querySelectorAll('[data-needs]').forEach((c) => c.classList.toggle('missing', !state.commands.has(c.dataset.needs)));
}
$('reload-cmds').addEventListener('click', loadCommands);

$('cmd-select').addEventListener('change', () => {
  const d = state.commands?.get($('cmd-select').value);
  if (!d) return;
  $('cmd-name').textContent = d.cmd;
  show($('cmd-data-desc'), d.data ?? {});
  show($('cmd-answer-desc'), d.answer ?? {});
  const tpl = templateFor(d.data);
  $('cmd-data').value = tpl && Object.keys(tpl).length ? JSON.stringify(tpl, null, 2) : '';
});

function showPending() {
  show($('cmd-answer'), '…');
  $('cmd-answer').dataset.status = 'pending';
}

function showAnswer(a) {
  state.lastAnswer = a;
  show($('cmd-answer'), a);
  $('cmd-answer').dataset.status = a.status;
  const link = $('save-last');
  if (link.href.startsWith('blob:')) URL.revokeObjectURL(link.href);
  link.href = URL.createObjectURL(new Blob([JSON.stringify(a, null, 2)], { type: 'application/json' }));
  link.hidden = false;
}

$('cmd-send').addEventListener('click', async () => {
  const name = $('cmd-select').value;
  if (!name) return;
  const text = $('cmd-data').value.trim();
  let data;
  if (text) {
    try { data = JSON.parse(text); } catch (e) { $('cmd-data-error').textContent = `not JSON: ${e.message}`; return; }
  }
  $('cmd-data-error').textContent = '';
  showPending();
  showAnswer(await sendCommand(name, data));
});

$('raw-send').addEventListener('click', async () => {
  const bytes = parseByteText($('raw-bytes').value);
  if (!bytes || !bytes.length) { $('raw-error').textContent = 'bytes as hex, e.g. 7E 01 00 05'; return; }
  $('raw-error').textContent = '';
  showPending();
  showAnswer(await sendCommand('CustomByteCommand', bytes));
});

// ---------- workflows ----------
function localInputValue(d) {
  return `${d.getFullYear()}-${fmt2(d.getMonth() + 1)}-${fmt2(d.getDate())}T${fmt2(d.getHours())}:${fmt2(d.getMinutes())}:${fmt2(d.getSeconds())}`;
}
$('clock-value').value = localInputValue(new Date());

async function setClock(d) {
  show($('clock-result'), 'setting…');
  $('clock-result').dataset.status = 'pending';
  const a = await sendCommand('SetTime', {
    Year: d.getFullYear(), Month: d.getMonth() + 1, Day: d.getDate(),
    Hours: d.getHours(), Minutes: d.getMinutes(), Seconds: d.getSeconds(),
  });
  show($('clock-result'), answerText(a) ?? 'clock set');
  $('clock-result').dataset.status = a.status;
  if (a.status === 'ok') await readClock();
}
$('clock-now').addEventListener('click', () => setClock(new Date()));
$('clock-set').addEventListener('click', () => {
  const d = new Date($('clock-value').value);
  if (Number.isNaN(d.getTime())) { show($('clock-result'), 'enter a date and time'); return; }
  setClock(d);
});

$('exam-send').addEventListener('click', async () => {
  const f = new FormData($('exam-form'));
  const num = (k) => Number(f.get(k) || 0);
  const data = {
    PatientId: f.get('PatientId'), Name: f.get('Name'), Surname: f.get('Surname'),
    Patronymic: f.get('Patronymic'), BirthdayDate: f.get('BirthdayDate'), Sex: f.get('Sex'),
    StartTime: String(f.get('StartTime') || '').replace('T', ' '), FileName: f.get('FileName'),
    LeadType: num('LeadType'),
    CableInfo: { Type: num('CableType'), Number: num('CableNumber'), SetupCounter: num('CableSetupCounter') },
  };
  // Several recorder writes: say it is under way until the answer.
  show($('exam-result'), 'writing…');
  $('exam-result').dataset.status = 'pending';
  const a = await sendCommand('SetExaminationInfo', data);
  show($('exam-result'), answerText(a) ?? 'written');
  $('exam-result').dataset.status = a.status;
  // The lead set names the traces.
  if (a.status === 'ok') readRecordingState().then(readEcgContext);
});

document.querySelectorAll('.card [data-cmd]').forEach((b) => {
  b.addEventListener('click', async () => {
    const out = b.closest('.card').querySelector('.result');
    show(out, `${b.dataset.cmd}…`);
    out.dataset.status = 'pending';
    const a = await sendCommand(b.dataset.cmd);
    show(out, a.status === 'ok' ? { [b.dataset.cmd]: a.data } : { [b.dataset.cmd]: answerText(a) });
    out.dataset.status = a.status;
    showAnswer(a);
    if ((b.dataset.cmd === 'BeginWriting' || b.dataset.cmd === 'StopWriting') && offered('GetWritingState')) readWriting();
  });
});

// ---------- signal recording ----------
const rec = { running: false, file: '', since: null, size: 0, note: '' };

function fmtBytes(n) {
  if (!Number.isFinite(n)) return '?';
  if (n < 1024) return `${n} B`;
  if (n < 1024 * 1024) return `${(n / 1024).toFixed(1)} KiB`;
  return `${(n / 1024 / 1024).toFixed(1)} MiB`;
}

function fmtElapsed(ms) {
  const s = Math.max(0, Math.floor(ms / 1000));
  return `${Math.floor(s / 3600)}:${fmt2(Math.floor(s / 60) % 60)}:${fmt2(s % 60)}`;
}

function renderRecording() {
  $('rec-toggle').textContent = rec.running ? '■ Stop' : '● Record';
  $('rec-toggle').classList.toggle('recording', rec.running);
  $('rec-label').disabled = rec.running;
  $('rec-status').textContent = rec.running
    ? `${rec.file}  ${fmtElapsed(rec.since ? Date.now() - rec.since : 0)}  ${fmtBytes(rec.size)}`
    : rec.note;
}

async function readRecordingState() {
  if (!offered('GetSignalRecordingState')) return;
  const a = await sendCommand('GetSignalRecordingState');
  const d = a.status === 'ok' ? a.data : null;
  if (Array.isArray(d?.Channels)) ecg.setLabels(d.Channels);
  rec.running = !!d?.Running;
  if (rec.running) {
    rec.file = d.FileName;
    // "Since" is the service's local time without a zone, as Date reads it.
    rec.since = Date.parse(d.Since) || rec.since;
    rec.size = d.Size;
  }
  renderRecording();
}

// The lead set and the heart rate in force, for the ECG view.
async function readEcgContext() {
  if (state.commands?.has('GetExaminationInfo')) {
    const a = await sendCommand('GetExaminationInfo');
    if (a.status === 'ok') ecg.setExamination(a.data);
  }
  if (state.commands?.has('GetFrequency')) {
    const a = await sendCommand('GetFrequency');
    if (a.status === 'ok') ecg.setFrequency(a.data?.Frequency);
  }
  if (state.commands?.has('GetHeartRate')) {
    const a = await sendCommand('GetHeartRate');
    if (a.status === 'ok') ecg.setHeartRate(a.data);
  }
}

function recordingEnded(ev) {
  rec.running = false;
  const seconds = Number.isFinite(ev.durationMs) ? ` ${(ev.durationMs / 1000).toFixed(1)} s` : '';
  rec.note = `saved ${ev.file}${seconds}${ev.reason && ev.reason !== 'stopped' ? ` (${ev.reason})` : ''}`;
  renderRecording();
  loadFiles();
}

$('rec-toggle').addEventListener('click', async () => {
  $('rec-toggle').disabled = true;
  try {
    if (rec.running) {
      const a = await sendCommand('StopSignalRecording');
      rec.running = false;
      rec.note = a.status === 'ok' ? `saved ${a.data.FileName} ${a.data.Duration.toFixed(1)} s` : answerText(a);
      renderRecording();
      loadFiles();
    } else {
      const label = $('rec-label').value.trim();
      const a = await sendCommand('StartSignalRecording', label ? { Label: label } : undefined);
      if (a.status !== 'ok') {
        rec.note = `${answerText(a)}${a.errortext ? `: ${a.errortext}` : ''}`;
        renderRecording();
        return;
      }
      rec.note = '';
      await readRecordingState();
    }
  } finally {
    $('rec-toggle').disabled = false;
  }
});
// The elapsed time runs on locally; the service is asked for the size,
// one question at a time however slowly it answers.
let recStateAsked = false;
setInterval(() => {
  if (!rec.running) return;
  renderRecording();
  if (recStateAsked) return;
  recStateAsked = true;
  readRecordingState().finally(() => { recStateAsked = false; });
}, 1000);

// ---------- files ----------
async function listFiles(route, table) {
  const body = $(table).tBodies[0];
  let entries = [];
  try {
    const res = await fetch(route);
    if (res.ok) entries = await res.json();
  } catch {
    entries = [];
  }
  const rows = (Array.isArray(entries) ? entries : []).map((e) => {
    const tr = document.createElement('tr');
    const link = document.createElement('a');
    link.href = `${route}${encodeURIComponent(e.name)}`;
    link.download = e.name;
    link.textContent = e.name;
    const cells = [link, e.start ? e.start.replace('T', ' ').slice(0, 19) : '',
      Number.isFinite(e.duration) ? `${e.duration.toFixed(1)} s` : '', fmtBytes(e.size)];
    for (const c of cells) {
      const td = document.createElement('td');
      td.append(c);
      tr.append(td);
    }
    return tr;
  });
  if (!rows.length) {
    const tr = document.createElement('tr');
    tr.innerHTML = '<td class="hint">none yet</td>';
    rows.push(tr);
  }
  body.replaceChildren(...rows);
}

function loadFiles() {
  listFiles('recordings/', 'recordings-list');
  listFiles('flash/', 'readouts-list');
}
$('files-reload').addEventListener('click', () => { $('files-status').textContent = ''; loadFiles(); });
// Downloads that need the access token go through access.js; one that
// fails is told here.
document.addEventListener('dastel-download-error', (ev) => {
  const name = decodeURIComponent(new URL(ev.detail.href).pathname.split('/').pop() || '');
  $('files-status').textContent = `download of ${name} failed: ${ev.detail.error}`;
});
