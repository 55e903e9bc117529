// Plays the program from the output server's state and transport messages with the browser's own media
// elements; every motion is a CSS transform or opacity animation, composited by the browser.
'use strict';

(() => {
  const VISUAL = ['background', 'media', 'overlay'];
  const ALL = ['background', 'media', 'overlay', 'audio'];
  const EASE = 'ease'; // cubic-bezier(0.25, 0.1, 0.25, 1), the curve of the native tweens
  const BLACK_MS = 250;
  const MIN_RAMP_S = 0.014;
  const PLAY_WAIT_MS = 500;
  const LOAD_LIMIT_MS = 15000;
  const ZOOM_IN = 1.12, ZOOM_OUT = 0.94;

  const query = new URLSearchParams(location.search);
  const role = query.get('role') === 'preview' || query.has('preview') ? 'preview' : 'output';

  const stageEl = document.getElementById('stage');
  const blackEl = document.getElementById('black');
  const audioBox = document.getElementById('audio');
  const soundButton = document.getElementById('sound');

  let stage = { width: 1920, height: 1080, fps: 60, background: 'transparent' };
  let master = 1;
  let soundAllowed = true;
  let socket = null;
  let shown = null; // the last take revealed: when its first frame went to the screen

  const sleep = (ms) => new Promise((resolve) => setTimeout(resolve, Math.max(0, ms)));
  const clamp01 = (v) => (Number.isFinite(v) ? Math.min(1, Math.max(0, v)) : 0);
  const send = (message) => {
    if (socket && socket.readyState === WebSocket.OPEN) socket.send(JSON.stringify(message));
  };

  // "#rrggbb" is opaque; anything else, and "#000000", is transparent, as on the native stage.
  function stageColour(text) {
    if (typeof text !== 'string' || !/^#[0-9a-fA-F]{6}$/.test(text)) return null;
    return parseInt(text.slice(1), 16) === 0 ? null : text;
  }

  function layout() {
    const w = stage.width > 0 ? stage.width : 1920;
    const h = stage.height > 0 ? stage.height : 1080;
    const k = Math.min(window.innerWidth / w, window.innerHeight / h);
    stageEl.style.width = `${w}px`;
    stageEl.style.height = `${h}px`;
    const left = (window.innerWidth - w * k) / 2;
    const top = (window.innerHeight - h * k) / 2;
    stageEl.style.transform = `translate(${left}px, ${top}px) scale(${k})`;
  }
  window.addEventListener('resize', layout);

  function setStage(next) {
    if (!next) return;
    stage = next;
    const colour = stageColour(stage.background);
    stageEl.style.background = colour || 'transparent';
    document.documentElement.classList.toggle('opaque', !!colour);
    layout();
  }

  // Animations: one per element and property, replaced whole; a new one starts where the old one stands.
  function animate(el, key, property, from, to, ms) {
    el._anims = el._anims || {};
    const old = el._anims[key];
    if (old) old.cancel();
    delete el._anims[key];
    if (!(ms > 0) || from === to) {
      el.style[property] = to;
      return;
    }
    el.style[property] = to;
    el._anims[key] = el.animate({ [property]: [from, to] }, { duration: ms, easing: EASE, fill: 'none' });
  }
  const currentOpacity = (el) => parseFloat(getComputedStyle(el).opacity);

  function setOpacity(el, from, to, ms) { animate(el, 'opacity', 'opacity', String(from), String(to), ms); }
  function transformText(x, s) { return `scale(${s}) translateX(${x}px)`; }
  function setTransform(el, from, to, ms) {
    animate(el, 'transform', 'transform', transformText(from.x, from.s), transformText(to.x, to.s), ms);
  }

  // Sound: the cue's volume times the master volume, ramped so that cuts do not click.
  function rampVolume(media, target, seconds) {
    if (!media || !media.el || media.kind === 'image') return;
    const el = media.el;
    target = clamp01(target);
    media.gain = target;
    if (el._ramp) cancelAnimationFrame(el._ramp);
    const start = performance.now();
    const from = el.volume;
    const ms = Math.max(0, seconds * 1000);
    const step = (now) => {
      const p = ms > 0 ? Math.min(1, (now - start) / ms) : 1;
      el.volume = clamp01(from + (target - from) * p);
      el._ramp = p < 1 ? requestAnimationFrame(step) : 0;
    };
    step(start);
  }

  function showSoundPrompt() {
    if (soundAllowed) {
      soundAllowed = false;
      soundButton.hidden = false;
    }
  }
  soundButton.addEventListener('click', () => {
    soundAllowed = true;
    soundButton.hidden = true;
    for (const layer of Object.values(layers)) layer.unmute();
  });

  // Starts a player; when the browser refuses sound without a gesture, plays muted and offers sound.
  async function startPlaying(media) {
    const el = media.el;
    el.muted = !soundAllowed;
    try {
      await el.play();
    } catch (err) {
      if (err && err.name === 'NotAllowedError' && !el.muted) {
        showSoundPrompt();
        el.muted = true;
        try { await el.play(); } catch (_) { /* the layer keeps its picture */ }
      }
    }
  }

  function waitFor(el, events, ms) {
    return new Promise((resolve, reject) => {
      let timer = 0;
      const done = (ok, why) => {
        clearTimeout(timer);
        for (const e of events) el.removeEventListener(e, onOk);
        el.removeEventListener('error', onError);
        if (ok) resolve(); else reject(new Error(why));
      };
      const onOk = () => done(true);
      const onError = () => done(false, (el.error && el.error.message) || 'the media could not be loaded');
      for (const e of events) el.addEventListener(e, onOk, { once: true });
      el.addEventListener('error', onError, { once: true });
      timer = setTimeout(() => done(false, 'the media took too long to load'), ms);
    });
  }

  // Loads a cue's media into a new element; resolves when its first picture (or sound) can be shown.
  async function load(cue) {
    const media = {
      cue, kind: cue.kind, el: null, ended: false, gain: 0,
      trimStart: Number.isFinite(cue.trimStart) && cue.trimStart > 0 ? cue.trimStart : 0,
      trimEnd: Number.isFinite(cue.trimEnd) && cue.trimEnd > 0 ? cue.trimEnd : null,
      loop: !!cue.loop || cue.endAction === 'loop',
    };
    if (cue.kind === 'image') {
      const img = new Image();
      img.decoding = 'async';
      img.src = cue.src;
      media.el = img;
      await img.decode();
      return media;
    }
    const el = document.createElement(cue.kind === 'audio' ? 'audio' : 'video');
    el.preload = 'auto';
    el.playsInline = true;
    el.muted = !soundAllowed;
    el.volume = 0;
    el.src = cue.src;
    media.el = el;
    await waitFor(el, ['loadedmetadata'], LOAD_LIMIT_MS);
    if (media.trimStart > 0) {
      el.currentTime = media.trimStart;
      await waitFor(el, ['seeked'], LOAD_LIMIT_MS);
    }
    if (el.readyState < 2) await waitFor(el, ['loadeddata'], LOAD_LIMIT_MS);
    applyLoop(media);
    return media;
  }

  // A loop without trims loops in the element itself, seamlessly; trimmed loops jump back by script.
  function applyLoop(media) {
    if (media.kind === 'image') return;
    media.el.loop = media.loop && media.trimStart === 0 && media.trimEnd === null;
  }

  // Resolves once the media really runs: two video frames, or a moving audio playhead; at most 0.5 s.
  function waitUntilPlaying(media) {
    if (media.kind === 'image' || !media.el) return Promise.resolve();
    const el = media.el;
    return new Promise((resolve) => {
      const t0 = el.currentTime;
      let frames = 0;
      let finished = false;
      const done = () => { if (!finished) { finished = true; resolve(); } };
      setTimeout(done, PLAY_WAIT_MS);
      if (media.kind === 'video' && el.requestVideoFrameCallback) {
        const onFrame = () => {
          frames += 1;
          if (frames >= 2) done(); else if (!finished) el.requestVideoFrameCallback(onFrame);
        };
        el.requestVideoFrameCallback(onFrame);
      } else {
        const poll = () => {
          if (finished) return;
          if (!el.paused && el.currentTime > t0 + 0.001) done(); else setTimeout(poll, 8);
        };
        poll();
      }
    });
  }

  function dispose(media) {
    if (!media || !media.el) return;
    const el = media.el;
    if (el._ramp) cancelAnimationFrame(el._ramp);
    if (media.kind !== 'image') {
      el.pause();
      el.removeAttribute('src');
      el.load();
    }
    el.remove();
    media.el = null;
  }

  class Layer {
    constructor(id) {
      this.id = id;
      this.visual = id !== 'audio';
      this.box = this.visual ? document.getElementById(`layer-${id}`) : audioBox;
      this.slots = [this.makeSlot(), this.makeSlot()];
      this.active = 0;
      this.current = null;      // the cue on air
      this.endedCue = null;     // a cue this page already cleared at its end
      this.loadToken = 0;
      this.applySeq = 0;
      this.chain = Promise.resolve();
    }

    makeSlot() {
      const slot = { el: null, cover: null, media: null, cue: null };
      if (this.visual) {
        slot.el = document.createElement('div');
        slot.el.className = 'slot';
        slot.el.style.opacity = '0';
        this.box.appendChild(slot.el);
      }
      return slot;
    }

    get live() { return this.slots[this.active]; }

    apply(cue) {
      this.applySeq += 1;
      this.chain = this.chain.then(() => this.run(cue)).catch((err) => console.error(err));
    }

    async run(cue) {
      if (cue && this.endedCue === cue.cueId) return;
      this.endedCue = null;
      if (!cue) {
        if (this.current) await this.clear(this.current.transition);
        return;
      }
      if (this.current && this.current.cueId === cue.cueId) {
        this.current = cue;
        this.live.cue = cue;
        this.setFill(this.live, cue);
        this.syncProps(cue);
        return;
      }
      await this.swapTo(cue);
    }

    setFill(slot, cue) {
      if (slot.el) slot.el.classList.toggle('fill', cue.fillMode === 'fill');
    }

    rest(slot) {
      if (!slot.el) return;
      setOpacity(slot.el, 1, 1, 0);
      setTransform(slot.el, { x: 0, s: 1 }, { x: 0, s: 1 }, 0);
      slot.el.style.zIndex = '0';
      if (slot.cover) { slot.cover.remove(); slot.cover = null; }
    }

    idle(slot) {
      if (slot.el) {
        setOpacity(slot.el, 0, 0, 0);
        slot.el.style.zIndex = '0';
        if (slot.cover) { slot.cover.remove(); slot.cover = null; }
      }
      dispose(slot.media);
      slot.media = null;
      slot.cue = null;
    }

    async swapTo(cue) {
      const token = ++this.loadToken;
      const outgoing = this.slots[this.active];
      const incomingIndex = 1 - this.active;
      const incoming = this.slots[incomingIndex];
      let media;
      try {
        media = await load(cue);
      } catch (err) {
        send({ type: 'error', layer: this.id, cueId: cue.cueId, message: String((err && err.message) || err) });
        return;
      }
      if (token !== this.loadToken) { dispose(media); return; }

      this.idle(incoming);
      this.rest(incoming);
      incoming.media = media;
      incoming.cue = cue;
      media.layer = this;
      if (this.visual) {
        this.setFill(incoming, cue);
        incoming.el.appendChild(media.el);
      } else {
        this.box.appendChild(media.el);
      }

      let hasCover = false;
      if (this.visual) {
        if (!outgoing.media && this.id === 'background') {
          incoming.cover = document.createElement('div');
          incoming.cover.className = 'cover';
          incoming.el.appendChild(incoming.cover);
          hasCover = true;
        } else if (!outgoing.media) {
          setOpacity(incoming.el, 0, 0, 0);
        } else {
          outgoing.el.style.zIndex = '1';
        }
      }

      const type = cue.transition ? cue.transition.type : 'cut';
      const d = cue.transition && cue.transition.durationMs > 0 ? cue.transition.durationMs : 0;
      if (media.kind !== 'image' && cue.playing) {
        await startPlaying(media);
        await waitUntilPlaying(media);
      }
      const ramp = d > 0 && type !== 'cut' ? d / 1000 : MIN_RAMP_S;
      media.el.volume = 0;
      rampVolume(media, cue.volume * master, ramp);
      if (outgoing.media) rampVolume(outgoing.media, 0, ramp);
      send({ type: 'loaded', layer: this.id, cueId: cue.cueId });

      if (this.visual) {
        this.reveal(type, d, incoming, outgoing, hasCover);
        requestAnimationFrame(() => { shown = { layer: this.id, cueId: cue.cueId, at: Date.now() }; });
      }
      const waited = type === 'cut' ? 0 : d;
      const needed = d > 0 && type !== 'cut' ? d : 14;
      await sleep(waited);
      if (waited < needed) await sleep(needed - waited);

      this.rest(incoming);
      this.active = incomingIndex;
      this.current = cue;
      this.idle(outgoing);
    }

    // The transition table of the native layer host.
    reveal(type, d, incoming, outgoing, hasCover) {
      const W = stage.width;
      const inEl = incoming.el;
      const outEl = outgoing.el;
      const outHasMedia = !!outgoing.media;
      if (type === 'cut') {
        setOpacity(inEl, 1, 1, 0);
        if (hasCover) setOpacity(incoming.cover, 0, 0, 0);
        else if (outHasMedia) setOpacity(outEl, 0, 0, 0);
        return;
      }
      if (type === 'fade' || type === 'crossfade') {
        if (hasCover) setOpacity(incoming.cover, 1, 0, d);
        else if (!outHasMedia) setOpacity(inEl, 0, 1, d);
        else setOpacity(outEl, currentOpacity(outEl), 0, d);
        return;
      }
      if (hasCover) setOpacity(incoming.cover, 0, 0, 0);
      setOpacity(inEl, 1, 1, 0);
      inEl.style.zIndex = '1';
      if (type === 'slide') {
        setTransform(inEl, { x: W, s: 1 }, { x: 0, s: 1 }, d);
        if (outHasMedia) {
          outEl.style.zIndex = '0';
          setTransform(outEl, { x: 0, s: 1 }, { x: -W, s: 1 }, d);
        }
      } else if (type === 'zoom') {
        setTransform(inEl, { x: 0, s: ZOOM_IN }, { x: 0, s: 1 }, d);
        if (outHasMedia) {
          outEl.style.zIndex = '0';
          setOpacity(outEl, 1, 0, d);
          setTransform(outEl, { x: 0, s: 1 }, { x: 0, s: ZOOM_OUT }, d);
        }
      }
    }

    // Fades the layer out with the transition the cue on air was taken with, then empties it; a newer
    // state arriving meanwhile stops the wait and leaves the slot where it stands.
    async clear(transition) {
      this.loadToken += 1;
      const seq = this.applySeq;
      const slot = this.live;
      const type = transition ? transition.type : 'cut';
      const d = transition && transition.durationMs > 0 ? transition.durationMs : 0;
      const hold = d >= 15 ? d : 14;
      if (slot.media) rampVolume(slot.media, 0, type === 'cut' ? MIN_RAMP_S : hold / 1000);
      if (slot.el) {
        if (type === 'zoom') {
          setOpacity(slot.el, 1, 0, d);
          setTransform(slot.el, { x: 0, s: 1 }, { x: 0, s: ZOOM_OUT }, d);
        } else if (type === 'slide') {
          setTransform(slot.el, { x: 0, s: 1 }, { x: -stage.width, s: 1 }, d);
        } else {
          setOpacity(slot.el, currentOpacity(slot.el), 0, type === 'cut' ? 0 : d);
        }
      }
      const until = performance.now() + (type === 'cut' ? 14 : hold);
      for (;;) {
        if (this.applySeq !== seq) return;
        const left = until - performance.now();
        if (left <= 0) break;
        await sleep(Math.min(16, left));
      }
      if (this.applySeq !== seq) return;
      this.idle(slot);
      this.current = null;
    }

    syncProps(cue) {
      const media = this.live.media;
      if (!media || media.kind === 'image') return;
      media.cue = cue;
      media.loop = !!cue.loop || cue.endAction === 'loop';
      applyLoop(media);
      rampVolume(media, cue.volume * master, 0.01);
      const el = media.el;
      if (!cue.playing && !el.paused) el.pause();
      else if (cue.playing && el.paused && !media.ended) startPlaying(media);
    }

    setMaster() {
      const media = this.live.media;
      if (media && this.current) rampVolume(media, this.current.volume * master, 0.01);
    }

    unmute() {
      for (const slot of this.slots) if (slot.media && slot.media.el && slot.media.kind !== 'image') slot.media.el.muted = false;
    }

    transport(action, time) {
      const media = this.live.media;
      if (!media || media.kind === 'image' || !this.current) return;
      const el = media.el;
      if (action === 'play') {
        if (media.ended) {
          media.ended = false;
          el.currentTime = media.trimStart;
        }
        startPlaying(media);
      } else if (action === 'pause') {
        el.pause();
      } else if (action === 'seek' && Number.isFinite(time)) {
        media.ended = false;
        el.currentTime = Math.max(0, time);
      }
    }

    // The end of the playable range: loop back to the start trim, or stop on the last frame; a cue that
    // ends with "clear" empties the layer, as the program does when the clip ends.
    reachedEnd(media) {
      if (media.ended || this.live.media !== media) return;
      if (media.loop) {
        media.el.currentTime = media.trimStart;
        if (media.el.paused) startPlaying(media);
        return;
      }
      media.ended = true;
      media.el.pause();
      const cue = this.current;
      if (cue && cue.endAction === 'clear') {
        this.endedCue = cue.cueId;
        this.applySeq += 1;
        this.chain = this.chain.then(() => this.current && this.current.cueId === cue.cueId
          ? this.clear(cue.transition) : undefined).catch((err) => console.error(err));
      }
    }

    // Called on every animation frame: the end trim and the element's own end.
    watch() {
      const media = this.live.media;
      if (!media || media.kind === 'image' || !media.el || media.ended) return;
      const el = media.el;
      if ((media.trimEnd !== null && el.currentTime >= media.trimEnd) || (el.ended && !el.loop)) this.reachedEnd(media);
    }
  }

  const layers = {};
  for (const id of ALL) layers[id] = new Layer(id);

  function watchAll() {
    for (const id of ALL) layers[id].watch();
    requestAnimationFrame(watchAll);
  }
  requestAnimationFrame(watchAll);
  // Timers keep watching when the page is hidden (animation frames stop there; a browser source may be).
  setInterval(() => { if (document.hidden) for (const id of ALL) layers[id].watch(); }, 50);

  // Black fades over 250 ms and turns back from wherever it stands.
  function setBlack(on) {
    const target = on ? 1 : 0;
    const now = currentOpacity(blackEl);
    if (now === target) return;
    setOpacity(blackEl, now, target, BLACK_MS);
  }

  function applyState(state) {
    if (!state || !state.layers) return;
    setStage(state.stage);
    const nextMaster = clamp01(state.masterVolume);
    const masterChanged = nextMaster !== master;
    master = nextMaster;
    for (const id of ALL) {
      const entry = state.layers[id];
      layers[id].apply(entry && entry.active ? entry.active : null);
      if (masterChanged) layers[id].setMaster();
    }
    setBlack(!!state.black);
  }

  function onMessage(text) {
    let message;
    try { message = JSON.parse(text); } catch (_) { return; }
    if (!message || typeof message !== 'object') return;
    if (message.type === 'state') applyState(message.state);
    else if (message.type === 'transport' && layers[message.layer]) layers[message.layer].transport(message.action, message.time);
    else if (message.type === 'ping') send({ type: 'pong', t: Number(message.t) || 0 });
  }

  // Reconnects after the server goes away, waiting a little longer each time; the last picture stays.
  let retryMs = 500;
  function connect() {
    const scheme = location.protocol === 'https:' ? 'wss:' : 'ws:';
    socket = new WebSocket(`${scheme}//${location.host}/`);
    socket.addEventListener('open', () => {
      retryMs = 500;
      send({ type: 'hello', role });
    });
    socket.addEventListener('message', (event) => { if (typeof event.data === 'string') onMessage(event.data); });
    socket.addEventListener('close', () => {
      socket = null;
      setTimeout(connect, retryMs);
      retryMs = Math.min(5000, retryMs * 2);
    });
  }

  window.ombryOutput = { layers, role, get stage() { return stage; }, get shown() { return shown; } };
  setStage(stage);
  connect();
})();
