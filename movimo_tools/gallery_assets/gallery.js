"use strict";
// The movimo gallery: thumbnails grouped by pack and family, built from
// MOVIMO_CATALOGUE (catalogue.js); filters, with a search that knows the
// words of the trade (MOVIMO_VOCABULARY); and a detail view that animates
// one pattern against a beat counter and says how to use it. A pattern's
// rows arrive from rows/N.js, loaded with a <script> element when it is
// first opened. The header links to the documentation at MOVIMO_DOCS.
const movimoGallery = (() => {
  const PIPS_PER_BEAT = 64;
  const BEATS_PER_BAR = 4;
  const SVG = "http://www.w3.org/2000/svg";
  const AXIS_COLOURS = ["#2f6fdf", "#2a9d5b", "#d9822b"];
  const byId = (id) => document.getElementById(id);

  const patterns = MOVIMO_CATALOGUE.map(
    ([name, pack, family, period, dimensions, description, path, depth, ticks], index) => ({
      name, pack, family, period, dimensions, description, path, depth, ticks, index,
      text: `${name} ${description}`.toLowerCase(), card: null,
    }));
  const loadedRows = new Map();  // name -> Float64Array, `dimensions` values a row
  const waiting = new Map();     // name -> callbacks for rows still loading

  function svgElement(tag, attributes) {
    const element = document.createElementNS(SVG, tag);
    for (const [key, value] of Object.entries(attributes)) element.setAttribute(key, value);
    return element;
  }

  function thumbnail(pattern) {
    const svg = svgElement("svg", { viewBox: "0 0 200 240", "aria-hidden": "true" });
    svg.append(svgElement("line", { x1: 8, y1: 100, x2: 192, y2: 100 }),
               svgElement("line", { x1: 100, y1: 8, x2: 100, y2: 192 }),
               svgElement("path", { d: pattern.path }));
    if (pattern.depth) svg.append(svgElement("path", { d: pattern.depth, class: "depth" }));
    if (pattern.ticks) {
      svg.append(svgElement("line", { x1: 8, y1: 220, x2: 192, y2: 220 }),
                 svgElement("path", { d: pattern.ticks, class: "ticks" }));
    }
    return svg;
  }

  // A pattern's name that wraps at its underscores rather than mid-word.
  function breakableName(name) {
    const label = document.createElement("span");
    name.split("_").forEach((part, i) => {
      if (i > 0) label.append("_", document.createElement("wbr"));
      label.append(part);
    });
    return label;
  }

  function card(pattern) {
    const button = document.createElement("button");
    button.type = "button";
    button.className = "card";
    button.title = pattern.description;
    button.append(thumbnail(pattern), breakableName(pattern.name));
    button.addEventListener("click", () => openDetail(pattern));
    pattern.card = button;
    return button;
  }

  function heading(tag, text) {
    const element = document.createElement(tag);
    element.textContent = text;
    return element;
  }

  // Packs and families are contiguous in catalogue order.
  function buildGroups() {
    const groups = byId("groups");
    let section = null;
    let cards = null;
    for (const pattern of patterns) {
      if (!section || section.dataset.pack !== pattern.pack) {
        section = document.createElement("section");
        section.dataset.pack = pattern.pack;
        section.append(heading("h2", `${pattern.pack} pack`));
        groups.append(section);
        cards = null;
      }
      if (!cards || cards.parentElement.dataset.family !== pattern.family) {
        const family = document.createElement("div");
        family.className = "family";
        family.dataset.family = pattern.family;
        cards = document.createElement("div");
        cards.className = "cards";
        family.append(heading("h3", pattern.family), cards);
        section.append(family);
      }
      cards.append(card(pattern));
    }
  }

  function addOptions(select, values, label) {
    for (const value of values) {
      const option = document.createElement("option");
      option.value = value;
      option.textContent = label(value);
      select.append(option);
    }
  }

  function buildFilters() {
    const distinct = (key) => [...new Set(patterns.map((p) => p[key]))];
    addOptions(byId("pack"), distinct("pack"), (pack) => pack);
    addOptions(byId("family"), distinct("family").sort(), (family) => family);
    addOptions(byId("period"), distinct("period").sort((a, b) => a - b),
               (period) => `${period / PIPS_PER_BEAT} beats (${period} pips)`);
    const filters = byId("filters");
    filters.addEventListener("input", applyFilters);
    filters.addEventListener("submit", (event) => event.preventDefault());
  }

  // The search, by the rules of movimo_tools.vocabulary (`movimo list
  // --text`): each word, or each term of the trade its words spell, must
  // match. A plain word matches anywhere in the name or description; a term
  // matches its families, its motions (whole words of the name) or itself as
  // a whole word of the description.
  const vocabulary = MOVIMO_VOCABULARY.map(
    ([term, families, motions, also]) => ({ term, families, motions, also }));
  const spellings = new Map();
  for (const entry of vocabulary) {
    for (const spelling of [entry.term, ...entry.also]) spellings.set(spelling.toLowerCase(), entry);
  }
  const longestSpelling = Math.max(...[...spellings.keys()].map((s) => s.split(" ").length));
  const LETTERS_PER_EDIT = 3;
  const MAX_SUGGESTIONS = 3;

  function covers(entry, p) {
    return entry.families.includes(p.family)
      || entry.motions.some((motion) => `_${p.name}_`.includes(`_${motion}_`));
  }

  function searchParts(text) {
    const words = text.toLowerCase().split(/\s+/).filter(Boolean);
    const parts = [];
    let start = 0;
    while (start < words.length) {
      for (let count = Math.min(longestSpelling, words.length - start); count > 0; count--) {
        const phrase = words.slice(start, start + count).join(" ");
        const entry = spellings.get(phrase) || null;
        if (entry || count === 1) {
          const escaped = phrase.replace(/[.*+?^${}()|[\]\\]/g, "\\$&");
          parts.push({ phrase, entry, wholeWord: new RegExp(`\\b${escaped}\\b`) });
          start += count;
          break;
        }
      }
    }
    return parts;
  }

  function partMatches(part, p) {
    if (!part.entry) return p.text.includes(part.phrase);
    return covers(part.entry, p) || part.wholeWord.test(p.text);
  }

  // Insertions, deletions, substitutions and swaps of neighbours.
  function editDistance(first, second) {
    let previous2 = [];
    let previous = Array.from({ length: second.length + 1 }, (_, j) => j);
    for (let i = 1; i <= first.length; i++) {
      const current = [i];
      for (let j = 1; j <= second.length; j++) {
        let cost = Math.min(previous[j] + 1, current[j - 1] + 1,
                            previous[j - 1] + (first[i - 1] !== second[j - 1] ? 1 : 0));
        if (i > 1 && j > 1 && first[i - 1] === second[j - 2] && first[i - 2] === second[j - 1]) {
          cost = Math.min(cost, previous2[j - 2] + 1);
        }
        current.push(cost);
      }
      previous2 = previous;
      previous = current;
    }
    return previous[second.length];
  }

  const suggestionWords = [...spellings.keys(), ...[...new Set(patterns.flatMap(
    (p) => p.name.split("_").filter((word) => /^[a-z]+$/.test(word))))].sort()];

  function nearestTerms(phrase) {
    const words = phrase.toLowerCase().split(/\s+/).filter(Boolean).join(" ");
    const reach = Math.max(1, Math.floor(words.length / LETTERS_PER_EDIT));
    const scored = [];
    suggestionWords.forEach((candidate, rank) => {
      const distance = editDistance(words, candidate);
      if (distance <= reach) {
        const entry = spellings.get(candidate);
        scored.push([distance, rank, entry ? entry.term : candidate]);
      }
    });
    scored.sort((a, b) => a[0] - b[0] || a[1] - b[1]);
    return [...new Set(scored.map(([, , name]) => name))].slice(0, MAX_SUGGESTIONS);
  }

  // The nearest terms to the words that match no pattern at all, as buttons
  // that search for them.
  function showSuggestions(parts) {
    const names = [...new Set(parts
      .filter((part) => !patterns.some((p) => partMatches(part, p)))
      .flatMap((part) => nearestTerms(part.phrase)))];
    const buttons = names.map((name) => {
      const button = document.createElement("button");
      button.type = "button";
      button.textContent = name;
      button.addEventListener("click", () => {
        byId("search").value = name;
        applyFilters();
      });
      return button;
    });
    byId("suggestions").replaceChildren(...buttons);
    byId("did-you-mean").hidden = names.length === 0;
  }

  function applyFilters() {
    const parts = searchParts(byId("search").value);
    const pack = byId("pack").value;
    const family = byId("family").value;
    const axes = Number(byId("axes").value);
    const period = Number(byId("period").value);
    let shown = 0;
    for (const p of patterns) {
      const match = (!pack || p.pack === pack) && (!family || p.family === family)
        && (!axes || p.dimensions === axes) && (!period || p.period === period)
        && parts.every((part) => partMatches(part, p));
      p.card.hidden = !match;
      shown += match;
    }
    for (const block of document.querySelectorAll("section, .family")) {
      block.hidden = !block.querySelector(".card:not([hidden])");
    }
    byId("count").value = `${shown} of ${patterns.length} patterns`;
    byId("no-match").hidden = shown > 0;
    if (shown === 0) showSuggestions(parts);
  }

  function loadRows(pattern, then) {
    if (loadedRows.has(pattern.name)) return then(loadedRows.get(pattern.name));
    if (waiting.has(pattern.name)) return waiting.get(pattern.name).push(then);
    waiting.set(pattern.name, [then]);
    const script = document.createElement("script");
    script.src = `rows/${Math.floor(pattern.index / MOVIMO_PATTERNS_PER_FILE)}.js`;
    document.head.append(script);
  }

  // Called by rows/N.js with the rows of its patterns, each as base64 of
  // little-endian int16.
  function receive(encoded) {
    for (const [name, data] of Object.entries(encoded)) {
      if (loadedRows.has(name)) continue;
      const bytes = Uint8Array.from(atob(data), (c) => c.charCodeAt(0));
      const view = new DataView(bytes.buffer);
      const rows = new Float64Array(bytes.length / 2);
      for (let i = 0; i < rows.length; i++) rows[i] = view.getInt16(2 * i, true) / MOVIMO_ROW_SCALE;
      loadedRows.set(name, rows);
      for (const then of waiting.get(name) || []) then(rows);
      waiting.delete(name);
    }
  }

  // The detail view: the pip runs from an anchor (time, pip) set when the
  // pattern opens and whenever the tempo changes or playing pauses, so the
  // beat counter stays exact however long it runs.
  const view = { pattern: null, rows: null, bpm: 120, playing: true, anchorTime: 0, anchorPip: 0 };

  function pipAt(now) {
    if (!view.playing) return view.anchorPip;
    return view.anchorPip + (now - view.anchorTime) / 60000 * view.bpm * PIPS_PER_BEAT;
  }

  function reanchor(now) {
    view.anchorPip = pipAt(now);
    view.anchorTime = now;
  }

  // The pattern between rows, linear, the loop closed on itself.
  function valueAt(pip) {
    const { period, dimensions } = view.pattern;
    const phase = ((pip % period) + period) % period;
    const row = Math.floor(phase);
    const next = (row + 1) % period;
    const fraction = phase - row;
    const value = [0, 0, 0];
    for (let axis = 0; axis < dimensions; axis++) {
      const here = view.rows[row * dimensions + axis];
      value[axis] = here + (view.rows[next * dimensions + axis] - here) * fraction;
    }
    return value;
  }

  const canvas = byId("detail-view");
  const screen = canvas.getContext("2d");
  // The still part of the view is drawn once per pattern on a canvas of its
  // own and copied under every frame.
  const still = document.createElement("canvas");
  still.width = canvas.width;
  still.height = canvas.height;
  const stillContext = still.getContext("2d");
  const PATH = { x: 210, y: 150, reach: 130 };
  const WAVES = { left: 10, width: 400, centre: 365, reach: 45 };

  function waveX(phase) {
    return WAVES.left + WAVES.width * phase / view.pattern.period;
  }

  function strokeRows(context, colour, point) {
    const { period } = view.pattern;
    context.beginPath();
    for (let k = 0; k <= period; k++) {
      const [x, y] = point(k % period, k);
      if (k === 0) context.moveTo(x, y); else context.lineTo(x, y);
    }
    context.strokeStyle = colour;
    context.stroke();
  }

  // The x-y path above, the axis waves over one loop below, with beat lines
  // and darker bar lines.
  function drawBackground() {
    const { period, dimensions } = view.pattern;
    const context = stillContext;
    const row = (k, axis) => view.rows[k * dimensions + axis];
    context.clearRect(0, 0, canvas.width, canvas.height);
    context.lineWidth = 1;
    context.strokeStyle = "#e3e6ec";
    context.strokeRect(PATH.x - PATH.reach, PATH.y - PATH.reach, 2 * PATH.reach, 2 * PATH.reach);
    for (let beat = 0; beat <= period / PIPS_PER_BEAT; beat++) {
      context.strokeStyle = beat % BEATS_PER_BAR ? "#e3e6ec" : "#aab1bf";
      const x = waveX(beat * PIPS_PER_BEAT);
      context.beginPath();
      context.moveTo(x, WAVES.centre - WAVES.reach);
      context.lineTo(x, WAVES.centre + WAVES.reach);
      context.stroke();
    }
    context.lineWidth = 2;
    const y = (k) => (dimensions > 1 ? row(k, 1) : 0);
    strokeRows(context, "#9db8ea", (k) => [PATH.x + PATH.reach * row(k, 0),
                                           PATH.y - PATH.reach * y(k)]);
    for (let axis = 0; axis < dimensions; axis++) {
      strokeRows(context, AXIS_COLOURS[axis],
                 (k, step) => [waveX(step), WAVES.centre - WAVES.reach * row(k, axis)]);
    }
  }

  function drawFrame(pip, value) {
    const { period } = view.pattern;
    const context = screen;
    context.clearRect(0, 0, canvas.width, canvas.height);
    context.drawImage(still, 0, 0);
    const phase = ((pip % period) + period) % period;
    context.strokeStyle = "#1d2430";
    context.lineWidth = 1;
    context.beginPath();
    context.moveTo(waveX(phase), WAVES.centre - WAVES.reach);
    context.lineTo(waveX(phase), WAVES.centre + WAVES.reach);
    context.stroke();
    context.fillStyle = value[2] >= 0 ? AXIS_COLOURS[2] : AXIS_COLOURS[0];
    context.beginPath();
    context.arc(PATH.x + PATH.reach * value[0], PATH.y - PATH.reach * value[1],
                8 + 5 * value[2], 0, 2 * Math.PI);
    context.fill();
  }

  // How to play the open pattern: the Python calls and the commands, the
  // stream at the tempo shown.
  function showUsage() {
    const { name } = view.pattern;
    byId("use-python").textContent = `movimo_tools.pattern("${name}").at(pip)\n`
      + `movimo.sample("${name}", pip)`;
    byId("use-command").textContent = `movimo show ${name}\n`
      + `movimo stream ${name} --bpm ${view.bpm} --osc 127.0.0.1:9000`;
  }

  function showValues(pip, value) {
    const beat = Math.floor(pip / PIPS_PER_BEAT);
    const bar = Math.floor(beat / BEATS_PER_BAR) + 1;
    const beatInBar = (((beat % BEATS_PER_BAR) + BEATS_PER_BAR) % BEATS_PER_BAR) + 1;
    byId("beat-counter").textContent = `bar ${bar} · beat ${beatInBar} · pip ${Math.floor(pip)}`;
    for (const row of byId("values").rows) {
      const axis = Number(row.dataset.axis);
      const v = value[axis];
      row.cells[2].textContent = v.toFixed(3);
      const meter = row.cells[1].firstElementChild;
      meter.style.left = `${50 + Math.min(v, 0) * 50}%`;
      meter.style.width = `${Math.abs(v) * 50}%`;
    }
  }

  function tick(now) {
    if (!view.pattern) return;
    if (view.rows) {
      const pip = pipAt(now);
      const value = valueAt(pip);
      drawFrame(pip, value);
      showValues(pip, value);
    }
    requestAnimationFrame(tick);
  }

  function openDetail(pattern) {
    const running = view.pattern !== null;
    if (running) view.pattern.card.classList.remove("open");
    // The address names the open pattern, so a link or a reload opens it again.
    history.replaceState(null, "", `#${pattern.name}`);
    view.pattern = pattern;
    view.rows = null;
    pattern.card.classList.add("open");
    byId("detail-name").replaceChildren(breakableName(pattern.name));
    byId("detail-meta").textContent = `${pattern.pack} pack · ${pattern.family} family · `
      + `${pattern.period / PIPS_PER_BEAT} beats (${pattern.period} pips) · ${pattern.dimensions} `
      + (pattern.dimensions === 1 ? "axis" : "axes");
    byId("detail-description").textContent = pattern.description;
    showUsage();
    // No readings until this pattern's rows are in, rather than the last one's.
    byId("beat-counter").textContent = "";
    for (const row of byId("values").rows) {
      row.hidden = Number(row.dataset.axis) >= pattern.dimensions;
      row.cells[2].textContent = "";
    }
    byId("detail").hidden = false;
    document.body.classList.add("with-detail");
    loadRows(pattern, (rows) => {
      if (view.pattern !== pattern) return;
      view.rows = rows;
      view.anchorPip = 0;
      view.anchorTime = performance.now();
      drawBackground();
    });
    if (!running) requestAnimationFrame(tick);
  }

  function closeDetail() {
    if (!view.pattern) return;
    view.pattern.card.classList.remove("open");
    history.replaceState(null, "", location.pathname);
    view.pattern = null;
    byId("detail").hidden = true;
    document.body.classList.remove("with-detail");
  }

  function buildControls() {
    byId("bpm").addEventListener("input", (event) => {
      const bpm = Number(event.target.value);
      if (!(bpm >= 20 && bpm <= 300)) return;
      reanchor(performance.now());
      view.bpm = bpm;
      if (view.pattern) showUsage();
    });
    byId("play").addEventListener("click", (event) => {
      reanchor(performance.now());
      view.playing = !view.playing;
      event.target.textContent = view.playing ? "Pause" : "Play";
    });
    byId("close").addEventListener("click", closeDetail);
    document.addEventListener("keydown", (event) => {
      if (event.key === "Escape") closeDetail();
    });
  }

  byId("docs-link").href = MOVIMO_DOCS;
  buildGroups();
  buildFilters();
  buildControls();
  applyFilters();
  function openFromAddress() {
    const linked = patterns.find((p) => `#${p.name}` === location.hash);
    if (linked) openDetail(linked);
  }
  window.addEventListener("hashchange", openFromAddress);
  openFromAddress();
  // When the page became usable, in milliseconds after navigation started.
  document.documentElement.dataset.readyMs = performance.now().toFixed(0);
  return { receive };
})();
