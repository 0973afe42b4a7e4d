// The browser console of a movimo show. It draws only what the show sends
// (its state, and the latest frame's view) and sends commands back: a
// control never changes what the page shows by itself, so every browser
// on the show agrees. See movimo_tools/surfaces/web.py for the protocol.
'use strict';

(function () {
  const SPEED_LABELS = new Map([[0.25, '\u00bc'], [0.5, '\u00bd'], [1, '1'], [2, '2'], [4, '4']]);
  const GROUP_COLOURS = ['#4f8cff', '#3ec27a', '#f2a93b', '#d46ae8', '#f0555a', '#35c6d6',
                         '#c5d34a', '#ff8a65'];
  const UNGROUPED = '#5d6577';
  const SPREADS = {rig: ['none', 'even', 'wing', 'group', 'position'],
                   osc: ['none', 'even', 'wing']};
  // The centre pad's edge: degrees on a rig, pattern units for OSC targets.
  const CENTRE_REACH = {rig: 90, osc: 1};
  const PHASE_REACH = 4;
  // A fader or the pad being moved sends at most this often (the server
  // allows 50 messages a second).
  const SEND_EVERY_MS = 60;
  const RETRY_MS = [250, 500, 1000, 2000, 4000];
  // On the top view of a rig, a fixture's aim moves this far per 90 degrees
  // of pan or tilt, as a share of the room each fixture has.
  const AIM_SHARE = 0.8;
  // The frames an OSC target's trail shows.
  const TRAIL_FRAMES = 8;

  const api = window.movimoConsole = {
    socket: null, layout: null, state: null, frames: 0, send,
  };
  const token = new URLSearchParams(location.search).get('token');
  const cards = new Map();
  let thumbnails = {};
  let when = 'bar';
  let retries = 0;
  let view = null;
  let drawing = false;
  let stageGeometry = null;
  let trail = [];

  const $ = (id) => document.getElementById(id);

  function element(tag, attributes, ...children) {
    const node = document.createElement(tag);
    for (const [name, value] of Object.entries(attributes || {})) {
      if (name === 'class') node.className = value;
      else if (name === 'text') node.textContent = value;
      else node.setAttribute(name, value);
    }
    node.append(...children);
    return node;
  }

  function send(message) {
    const socket = api.socket;
    if (socket && socket.readyState === WebSocket.OPEN) socket.send(JSON.stringify(message));
  }

  function fade() {
    return Number($('fade').value);
  }

  // Calls `callback` at most every SEND_EVERY_MS with the latest arguments;
  // `cancel()` drops a call still waiting (before a final value is sent).
  function throttled(callback) {
    let last = -Infinity;
    let timer = null;
    let latest = null;
    const fire = () => {
      timer = null;
      last = performance.now();
      callback(...latest);
    };
    const call = (...args) => {
      latest = args;
      if (timer !== null) return;
      const wait = last + SEND_EVERY_MS - performance.now();
      if (wait <= 0) fire();
      else timer = setTimeout(fire, wait);
    };
    call.cancel = () => {
      clearTimeout(timer);
      timer = null;
    };
    return call;
  }

  function number(value, digits) {
    return Number(value.toFixed(digits)).toString();
  }

  // ------------------------------------------------------------ the connection

  function connect() {
    const address = new URL('socket', location.href);
    address.protocol = location.protocol === 'https:' ? 'wss:' : 'ws:';
    address.search = token === null ? '' : '?' + new URLSearchParams({token});
    const socket = new WebSocket(address);
    socket.binaryType = 'arraybuffer';
    api.socket = socket;
    socket.onmessage = (event) => {
      if (typeof event.data !== 'string') {
        view = new Float32Array(event.data);
        api.frames += 1;
        requestDraw();
        return;
      }
      const message = JSON.parse(event.data);
      if (message.type === 'hello') {
        retries = 0;
        thumbnails = message.thumbnails;
        api.layout = message.layout;
        build(message.layout, message.state);
        render(message.state);
        setLink('live', 'live');
      } else if (message.type === 'thumbnails') {
        Object.assign(thumbnails, message.thumbnails);
      } else if (message.type === 'state') {
        render(message.state);
      }
    };
    socket.onclose = () => {
      if (api.socket !== socket) return;
      setLink('reconnecting', 'reconnecting');
      setTimeout(connect, RETRY_MS[Math.min(retries, RETRY_MS.length - 1)]);
      retries += 1;
    };
  }

  function setLink(kind, text) {
    const link = $('link');
    link.className = 'badge ' + kind;
    link.textContent = text;
  }

  // ------------------------------------------------------------ building the page

  function build(layout, state) {
    cards.clear();
    const groups = $('groups');
    groups.replaceChildren();
    state.groups.forEach((group, index) => {
      const card = buildGroup(group.name, GROUP_COLOURS[index % GROUP_COLOURS.length],
                              layout.kind, state.speeds);
      cards.set(group.name, card);
      groups.append(card.section);
    });
    const whens = $('when');
    whens.replaceChildren(...state.whens.map((name) => {
      const button = element('button', {type: 'button', role: 'radio', 'data-when': name,
                                        text: name});
      button.addEventListener('click', () => {
        when = name;
        showWhen();
      });
      return button;
    }));
    showWhen();
    stageGeometry = null;
  }

  function showWhen() {
    for (const button of $('when').children) {
      const on = button.dataset.when === when;
      button.classList.toggle('on', on);
      button.setAttribute('aria-checked', String(on));
    }
  }

  function buildGroup(name, colour, kind, speeds) {
    const card = {name, paletteKey: null};
    card.playing = element('span', {class: 'playing'});
    card.next = element('span', {class: 'next'});
    const swatch = element('span', {class: 'swatch', text: '\u25cf '});
    swatch.style.color = colour;
    const title = element('h2', {}, swatch, name);
    card.palette = element('div', {class: 'palette', role: 'group',
                                   'aria-label': `Patterns of ${name}`});
    card.size = fader('Size', 0, 200, 1, (value) => `${number(value, 0)} %`,
                      (value) => ({type: 'size', group: name, percent: value}));
    card.phase = fader('Phase', -PHASE_REACH, PHASE_REACH, 0.25,
                       (value) => `${value > 0 ? '+' : ''}${number(value, 2)} b`,
                       (value) => ({type: 'phase', group: name, beats: value}));
    card.speeds = element('span', {class: 'joined', role: 'group', 'aria-label': 'Speed'},
                          ...speeds.map((speed) => {
      const button = element('button', {type: 'button', 'data-speed': String(speed),
                                        text: '\u00d7' + (SPEED_LABELS.get(speed) || speed)});
      button.addEventListener('click', () => send({type: 'speed', group: name, speed}));
      return button;
    }));
    card.spread = element('select', {'aria-label': 'Spread'},
                          ...SPREADS[kind].map((spread) => element('option', {value: spread,
                                                                               text: spread})));
    card.spread.addEventListener('change', () => send({type: 'spread', group: name,
                                                       spread: card.spread.value}));
    const pad = centrePad(name, CENTRE_REACH[kind]);
    card.dot = pad.dot;
    card.centre = pad.output;
    card.reach = CENTRE_REACH[kind];
    const faders = element('div', {class: 'faders'}, card.size.root,
                           element('div', {class: 'row'}, element('span', {class: 'caption',
                                                                           text: 'Speed'}),
                                   card.speeds),
                           card.phase.root,
                           element('label', {class: 'row'}, element('span', {class: 'caption',
                                                                             text: 'Spread'}),
                                   card.spread));
    card.section = element('section', {class: 'group panel', 'data-group': name},
                           element('header', {}, title, card.playing, card.next),
                           card.palette,
                           element('div', {class: 'controls'}, faders, pad.root));
    return card;
  }

  // A range input that sends while it moves and shows the show's value; the
  // show's value does not move it while a hand holds it.
  function fader(label, min, max, step, format, message) {
    const input = element('input', {type: 'range', min, max, step, 'aria-label': label});
    const output = element('output');
    const control = {input, output, format, held: false};
    control.root = element('label', {class: 'fader'}, element('span', {text: label}), input,
                           output);
    const sendValue = throttled((value) => send(message(value)));
    input.addEventListener('pointerdown', () => { control.held = true; });
    window.addEventListener('pointerup', () => { control.held = false; });
    window.addEventListener('pointercancel', () => { control.held = false; });
    input.addEventListener('input', () => sendValue(Number(input.value)));
    input.addEventListener('change', () => {
      sendValue.cancel();
      send(message(Number(input.value)));
    });
    return control;
  }

  function showFader(control, value) {
    if (!control.held) control.input.value = value;
    control.output.textContent = control.format(value);
  }

  // The centre of a group's movement: drag (or arrow keys), double-click to reset.
  function centrePad(group, reach) {
    const dot = element('span', {class: 'dot'});
    const pad = element('div', {class: 'pad', tabindex: '0', role: 'application',
                                'aria-label': 'Centre: drag, arrow keys, double-click resets'},
                        dot);
    const output = element('output');
    const digits = reach >= 10 ? 1 : 3;
    const message = (pan, tilt) => ({type: 'centre', group, pan: Number(pan.toFixed(digits)),
                                     tilt: Number(tilt.toFixed(digits))});
    const sendCentre = throttled((pan, tilt) => send(message(pan, tilt)));
    const at = (event) => {
      const box = pad.getBoundingClientRect();
      const x = Math.min(Math.max((event.clientX - box.left) / box.width, 0), 1);
      const y = Math.min(Math.max((event.clientY - box.top) / box.height, 0), 1);
      return [(2 * x - 1) * reach, (1 - 2 * y) * reach];
    };
    pad.addEventListener('pointerdown', (event) => {
      pad.setPointerCapture(event.pointerId);
      sendCentre(...at(event));
    });
    pad.addEventListener('pointermove', (event) => {
      if (pad.hasPointerCapture(event.pointerId)) sendCentre(...at(event));
    });
    pad.addEventListener('pointerup', (event) => {
      sendCentre.cancel();
      send(message(...at(event)));
    });
    pad.addEventListener('dblclick', () => send(message(0, 0)));
    pad.addEventListener('keydown', (event) => {
      const steps = {ArrowLeft: [-1, 0], ArrowRight: [1, 0], ArrowUp: [0, 1], ArrowDown: [0, -1]};
      const step = steps[event.key];
      const card = cards.get(group);
      if (!step || !card || !card.look) return;
      event.preventDefault();
      const [pan, tilt] = card.look.centre;
      const clamp = (value) => Math.min(Math.max(value, -reach), reach);
      sendCentre(clamp(pan + step[0] * reach / 20), clamp(tilt + step[1] * reach / 20));
    });
    const root = element('div', {class: 'centre'}, element('span', {class: 'caption',
                                                                     text: 'Centre'}),
                         pad, output);
    return {root, dot, output};
  }

  // ------------------------------------------------------------ drawing the state

  function render(state) {
    api.state = state;
    renderTempo(state);
    for (const group of state.groups) {
      const card = cards.get(group.name);
      if (card) renderGroup(card, group, state.palette);
    }
    renderCues(state.cues);
    $('ignored').textContent = state.ignored ? `${state.ignored} ignored` : '';
  }

  function renderTempo(state) {
    const bpm = $('bpm');
    if (document.activeElement !== bpm) bpm.value = state.tempo.bpm ? number(state.tempo.bpm, 1) : '';
    const motion = $('motion');
    motion.textContent = state.stopped ? 'Resume' : 'Stop';
    motion.classList.toggle('stopped', state.stopped);
    const lock = $('lock');
    const {clock, state: lockState} = state.tempo;
    lock.textContent = clock === 'internal' ? 'own clock' : `${clock} \u00b7 ${lockState}`;
    lock.className = lockState;
  }

  function renderGroup(card, group, palette) {
    const look = group.look;
    const next = group.next;
    card.look = look;
    const key = palette.join('\n');
    if (card.paletteKey !== key) {
      card.paletteKey = key;
      card.palette.replaceChildren(...palette.map((pattern) => patternButton(card.name, pattern)));
    }
    const pending = next && next.pattern !== look.pattern ? next.pattern : null;
    for (const button of card.palette.children) {
      button.classList.toggle('current', button.dataset.pattern === look.pattern);
      button.classList.toggle('pending', button.dataset.pattern === pending);
      button.setAttribute('aria-pressed', String(button.dataset.pattern === look.pattern));
    }
    card.playing.replaceChildren('plays ', element('b', {text: look.pattern}));
    card.next.textContent = next ? `\u2192 ${changes(look, next)} at beat ${number(next.beat, 2)}`
                                 : '';
    showFader(card.size, look.percent);
    showFader(card.phase, look.phase);
    for (const button of card.speeds.children) {
      const speed = Number(button.dataset.speed);
      button.classList.toggle('on', speed === look.speed);
      button.classList.toggle('pending', Boolean(next) && next.speed !== look.speed &&
                              speed === next.speed);
    }
    card.spread.value = look.spread;
    const [pan, tilt] = look.centre;
    const share = (value) => 50 + 50 * Math.min(Math.max(value / card.reach, -1), 1);
    card.dot.style.left = `${share(pan)}%`;
    card.dot.style.top = `${100 - share(tilt)}%`;
    const digits = card.reach >= 10 ? 1 : 2;
    card.centre.textContent = `${number(pan, digits)}, ${number(tilt, digits)}`;
  }

  function changes(look, next) {
    const said = [];
    if (next.pattern !== look.pattern) said.push(next.pattern);
    if (next.speed !== look.speed) said.push(`\u00d7${SPEED_LABELS.get(next.speed) || next.speed}`);
    if (next.phase !== look.phase) said.push(`phase ${number(next.phase, 2)}`);
    if (next.spread !== look.spread) said.push(`${next.spread} spread`);
    return said.join(', ') || 'restart';
  }

  function patternButton(group, pattern) {
    const button = element('button', {type: 'button', class: 'pattern', 'data-pattern': pattern,
                                      title: `Play ${pattern}`});
    if (thumbnails[pattern]) {
      const svg = document.createElementNS('http://www.w3.org/2000/svg', 'svg');
      svg.setAttribute('viewBox', '0 0 200 240');
      svg.setAttribute('aria-hidden', 'true');
      const path = document.createElementNS('http://www.w3.org/2000/svg', 'path');
      path.setAttribute('d', thumbnails[pattern]);
      svg.append(path);
      button.append(svg);
    }
    button.append(element('span', {text: pattern.replaceAll('_', '_\u200b')}));
    button.addEventListener('click', () => send({type: 'pattern', group, pattern, when,
                                                 fade: fade()}));
    return button;
  }

  function renderCues(cues) {
    const list = $('cue-list');
    const key = cues.join('\n');
    if (list.dataset.key === key) return;
    list.dataset.key = key;
    if (!cues.length) {
      list.replaceChildren(element('p', {class: 'empty', text: 'No cues stored yet.'}));
      return;
    }
    list.replaceChildren(...cues.map((cue, index) => {
      const button = element('button', {type: 'button', class: 'cue', 'data-cue': cue,
                                        title: `Recall ${cue}`},
                             element('small', {text: String(index + 1)}), cue);
      button.addEventListener('click', () => send({type: 'cue', cue, when, fade: fade()}));
      return button;
    }));
  }

  // ------------------------------------------------------------ the top view of the stage

  function requestDraw() {
    if (drawing) return;
    drawing = true;
    requestAnimationFrame(() => {
      drawing = false;
      drawStage();
    });
  }

  // Where each member stands on the canvas, and its colour; worked out once a layout.
  function geometry(canvas, layout) {
    const colours = new Array(layout.names.length).fill(UNGROUPED);
    layout.groups.forEach((members, index) => {
      for (const member of members) {
        if (colours[member] === UNGROUPED) colours[member] = GROUP_COLOURS[index % GROUP_COLOURS.length];
      }
    });
    const size = canvas.width;
    const margin = size * 0.08;
    const xs = layout.positions.map((p) => p[0]);
    const ys = layout.positions.map((p) => p[1]);
    const [left, right] = [Math.min(...xs), Math.max(...xs)];
    const [bottom, top] = [Math.min(...ys), Math.max(...ys)];
    const span = Math.max(right - left, top - bottom) || 1;
    const scale = (size - 2 * margin) / span;
    const homes = layout.positions.map(([x, y]) => [
      size / 2 + (x - (left + right) / 2) * scale,
      size / 2 - (y - (bottom + top) / 2) * scale]);
    // Room for each fixture: the typical step from one to the next (a row of
    // a patch steps along it), or an even share of the square.
    const steps = homes.slice(1).map(([x, y], index) =>
      Math.hypot(x - homes[index][0], y - homes[index][1])).filter((step) => step > 0.5);
    steps.sort((a, b) => a - b);
    const room = steps.length ? steps[Math.floor(steps.length / 2)]
                              : (size - 2 * margin) / Math.sqrt(Math.max(layout.names.length, 1));
    const reach = Math.min(Math.max(room * AIM_SHARE, 4), size / 6);
    return {size, colours, homes, reach, layout};
  }

  function drawStage() {
    const canvas = $('stage');
    const layout = api.layout;
    if (!layout || !view || view.length !== 2 * layout.names.length) return;
    const pixels = Math.round(canvas.clientWidth * (window.devicePixelRatio || 1));
    if (canvas.width !== pixels || canvas.height !== pixels) {
      canvas.width = canvas.height = pixels;
      stageGeometry = null;
    }
    if (!stageGeometry || stageGeometry.layout !== layout) {
      stageGeometry = geometry(canvas, layout);
      trail = [];
    }
    const context = canvas.getContext('2d');
    if (layout.kind === 'rig') drawRig(context, stageGeometry);
    else drawTargets(context, stageGeometry);
  }

  // Each fixture at its place (a ring), its aim a line out to a dot, offset
  // by its pan (across) and tilt (up) from home.
  function drawRig(context, {size, colours, homes, reach}) {
    context.clearRect(0, 0, size, size);
    const dot = Math.max(1.5, reach / 7);
    const aims = homes.map(([x, y], member) => [x + view[2 * member] / 90 * reach,
                                                y - view[2 * member + 1] / 90 * reach]);
    for (const colour of new Set(colours)) {
      const members = [];
      colours.forEach((each, member) => { if (each === colour) members.push(member); });
      context.strokeStyle = colour;
      context.fillStyle = colour;
      context.lineWidth = 1;
      context.globalAlpha = 0.35;
      context.beginPath();
      for (const member of members) {
        const [x, y] = homes[member];
        context.moveTo(x + reach / 4, y);
        context.arc(x, y, reach / 4, 0, 2 * Math.PI);
      }
      context.stroke();
      context.globalAlpha = 0.7;
      context.lineWidth = Math.max(1, reach / 16);
      context.beginPath();
      for (const member of members) {
        context.moveTo(...homes[member]);
        context.lineTo(...aims[member]);
      }
      context.stroke();
      context.globalAlpha = 1;
      context.beginPath();
      for (const member of members) {
        const [x, y] = aims[member];
        context.moveTo(x + dot, y);
        context.arc(x, y, dot, 0, 2 * Math.PI);
      }
      context.fill();
    }
  }

  // OSC targets as dots at their x and y, each after a fading trail of its
  // last few places.
  function drawTargets(context, {size, colours}) {
    trail.push(view);
    if (trail.length > TRAIL_FRAMES) trail.shift();
    context.clearRect(0, 0, size, size);
    context.strokeStyle = '#2c3340';
    context.lineWidth = 1;
    context.beginPath();
    context.moveTo(size / 2, 0);
    context.lineTo(size / 2, size);
    context.moveTo(0, size / 2);
    context.lineTo(size, size / 2);
    context.stroke();
    const half = size * 0.46;
    const radius = Math.max(3, size / 90);
    trail.forEach((places, age) => {
      const newest = age === trail.length - 1;
      context.globalAlpha = newest ? 1 : 0.5 * (age + 1) / trail.length;
      colours.forEach((colour, member) => {
        context.fillStyle = colour;
        context.beginPath();
        context.arc(size / 2 + places[2 * member] * half, size / 2 - places[2 * member + 1] * half,
                    newest ? radius : radius * 0.6, 0, 2 * Math.PI);
        context.fill();
      });
    });
    context.globalAlpha = 1;
  }

  // ------------------------------------------------------------ the page's own controls

  for (const button of document.querySelectorAll('[data-send]')) {
    button.addEventListener('click', () => send(JSON.parse(button.dataset.send)));
  }
  $('motion').addEventListener('click', () => {
    send({type: api.state && api.state.stopped ? 'resume' : 'stop'});
  });
  $('bpm').addEventListener('change', () => {
    const bpm = Number($('bpm').value);
    if (Number.isFinite(bpm) && bpm > 0) send({type: 'bpm', bpm});
  });
  $('store').addEventListener('submit', (event) => {
    event.preventDefault();
    const name = $('cue-name').value.trim();
    if (name) send({type: 'store', cue: name});
    $('cue-name').value = '';
  });
  window.addEventListener('resize', () => {
    stageGeometry = null;
    requestDraw();
  });

  connect();
})();
