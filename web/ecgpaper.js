// ECG paper: where rows, columns and calibration pulses sit, in millimetres,
// and the drawing of the grid. The live view draws it on a canvas at the
// screen's pixels per millimetre; the printed report draws the same in SVG.

export const GRID_MINOR = '#f7cfcf';
export const GRID_MAJOR = '#e08a8a';
export const PAPER = '#fffafa';
export const INK = '#1a3cc0';
export const LABEL = '#333';
export const CSS_PX_PER_MM = 96 / 25.4;

// The 1 mV pulse is 0.2 s wide, with 2 mm of baseline either side.
export const calWidthMm = (speed) => 0.2 * speed + 4;

// rows: [[lead names per column]], rhythm: a lead drawn across the whole
// width below them, or null. Returns the rows to draw, each with its
// baseline (mm from the top) and the leads of its columns.
export function paperGeometry({ widthMm, speed, rows, rhythm, rowHeightMm }) {
  const calW = calWidthMm(speed);
  const traceW = Math.max(20, widthMm - calW);
  const all = rows.map((cols) => ({ cols, rhythm: false }));
  if (rhythm) all.push({ cols: [rhythm], rhythm: true });
  const out = all.map((r, i) => ({
    ...r,
    top: i * rowHeightMm,
    // More room above the baseline: R waves go up.
    baseline: i * rowHeightMm + rowHeightMm * 0.62,
    colW: traceW / r.cols.length,
  }));
  return { calW, traceW, widthMm: calW + traceW, heightMm: all.length * rowHeightMm, rows: out, speed };
}

// The grid, pulses and lead names on a 2D context that draws in device
// pixels, `scale` device pixels per mm. Lines sit on whole device pixels so
// they stay crisp; their places are rounded from the exact millimetre.
export function drawPaperCanvas(ctx, geo, scale, gainMmPerMv, { autoGain = false } = {}) {
  const w = Math.ceil(geo.widthMm * scale);
  const h = Math.ceil(geo.heightMm * scale);
  ctx.fillStyle = PAPER;
  ctx.fillRect(0, 0, w, h);
  const line = (vertical, mm, color) => {
    const p = Math.round(mm * scale) + 0.5;
    ctx.strokeStyle = color;
    ctx.beginPath();
    if (vertical) { ctx.moveTo(p, 0); ctx.lineTo(p, h); } else { ctx.moveTo(0, p); ctx.lineTo(w, p); }
    ctx.stroke();
  };
  ctx.lineWidth = 1;
  // Minor lines first, the 5 mm lines over them.
  for (const major of [false, true]) {
    for (let mm = 0; mm <= geo.widthMm; mm++) if ((mm % 5 === 0) === major) line(true, mm, major ? GRID_MAJOR : GRID_MINOR);
    for (let mm = 0; mm <= geo.heightMm; mm++) if ((mm % 5 === 0) === major) line(false, mm, major ? GRID_MAJOR : GRID_MINOR);
  }
  ctx.strokeStyle = INK;
  ctx.lineWidth = Math.max(1, Math.round(scale * 0.3));
  ctx.font = `${Math.round(3.2 * scale)}px system-ui, sans-serif`;
  ctx.textBaseline = 'top';
  for (const row of geo.rows) {
    const y0 = row.baseline * scale;
    const y1 = (row.baseline - gainMmPerMv) * scale;
    const x = (mm) => mm * scale;
    const pw = 0.2 * geo.speed;
    ctx.strokeStyle = INK;
    ctx.beginPath();
    ctx.moveTo(x(0), y0);
    ctx.lineTo(x(2), y0);
    ctx.lineTo(x(2), y1);
    ctx.lineTo(x(2 + pw), y1);
    ctx.lineTo(x(2 + pw), y0);
    ctx.lineTo(x(geo.calW), y0);
    ctx.stroke();
    ctx.fillStyle = LABEL;
    row.cols.forEach((lead, c) => {
      const left = geo.calW + c * row.colW;
      ctx.fillText(lead, x(left + 1.5), x(row.top + 1));
      if (c > 0) {
        // A short mark where one lead's column gives way to the next.
        ctx.strokeStyle = LABEL;
        ctx.beginPath();
        ctx.moveTo(x(left), y0 - 3 * scale);
        ctx.lineTo(x(left), y0 + 3 * scale);
        ctx.stroke();
      }
    });
  }
  if (autoGain) {
    ctx.fillStyle = '#b00';
    ctx.fillText('AUTO GAIN', 2 * scale, Math.max(0, geo.heightMm - 5) * scale);
  }
}

// The same paper as SVG elements in millimetres, for the printed report.
export function paperSvg(geo, gainMmPerMv) {
  const parts = [];
  const minor = [];
  const major = [];
  for (let mm = 0; mm <= geo.widthMm + 1e-6; mm++) (mm % 5 === 0 ? major : minor).push(`M${mm} 0V${geo.heightMm}`);
  for (let mm = 0; mm <= geo.heightMm + 1e-6; mm++) (mm % 5 === 0 ? major : minor).push(`M0 ${mm}H${geo.widthMm}`);
  parts.push(`<rect width="${geo.widthMm}" height="${geo.heightMm}" fill="${PAPER}"/>`);
  parts.push(`<path d="${minor.join('')}" stroke="${GRID_MINOR}" stroke-width="0.1" fill="none"/>`);
  parts.push(`<path d="${major.join('')}" stroke="${GRID_MAJOR}" stroke-width="0.2" fill="none"/>`);
  const pw = 0.2 * geo.speed;
  for (const row of geo.rows) {
    const y0 = row.baseline;
    const y1 = row.baseline - gainMmPerMv;
    parts.push(`<path d="M0 ${y0}H2V${y1}H${2 + pw}V${y0}H${geo.calW}" stroke="#000" stroke-width="0.25" fill="none"/>`);
    row.cols.forEach((lead, c) => {
      const left = geo.calW + c * row.colW;
      parts.push(`<text x="${left + 1.5}" y="${row.top + 4}" font-size="3.5" font-family="sans-serif">${lead}</text>`);
      if (c > 0) parts.push(`<path d="M${left} ${y0 - 3}V${y0 + 3}" stroke="#000" stroke-width="0.25"/>`);
    });
  }
  return parts.join('');
}
