#include "outputs/LivePage.h"

#include <cstdint>
#include <random>

namespace tarvex {
namespace {

const char PAGE_HEAD[] = R"PAGE(<!DOCTYPE html>
<html>
<head>
<meta charset="utf-8">
<meta name="viewport" content="width=device-width, initial-scale=1">
<title>Tarvex Scale</title>
<style nonce=")PAGE";

const char PAGE_BODY[] = R"PAGE(">
  body { font-family: sans-serif; margin: 0; background: #f4f4f4; color: #222; }
  main { max-width: 56em; margin: 0 auto; padding: 1.5em; }
  #newest { background: #fff; border-radius: 0.5em; padding: 1em 1.5em; box-shadow: 0 1px 3px #0003; }
  #weight { font-size: 18vmin; font-weight: bold; font-variant-numeric: tabular-nums; line-height: 1.1; }
  #weight.mark { color: #b00020; }
  #live { font-size: 1.6em; margin: 0 0 0.8em; font-variant-numeric: tabular-nums; }
  #liveState { color: #555; margin-left: 0.5em; }
  #unit { font-size: 6vmin; margin-left: 0.3em; }
  #when, #link { font-size: 1.3em; color: #555; margin-top: 0.3em; }
  #link.down { color: #b00020; }
  h2 { font-size: 1.1em; margin: 1.5em 0 0.5em; }
  table { border-collapse: collapse; width: 100%; background: #fff; }
  th, td { text-align: left; padding: 0.35em 0.6em; border-bottom: 1px solid #ddd; }
  td.num { font-variant-numeric: tabular-nums; }
</style>
</head>
<body>
<main>
  <div id="live" hidden><span id="liveWeight"></span><span id="liveState"></span></div>
  <div id="newest"><div><span id="weight"></span><span id="unit"></span></div><div id="when"></div></div>
  <div id="link"></div>
  <h2 id="lastTen"></h2>
  <table><thead><tr><th id="hNumber"></th><th id="hWeight"></th><th id="hUnit"></th><th id="hTime"></th></tr></thead>
  <tbody id="rows"></tbody></table>
</main>
<script nonce=")PAGE";

const char PAGE_SCRIPT[] = R"PAGE(">
const TEXTS = )PAGE";

const char PAGE_TAIL[] = R"PAGE(;
const $ = id => document.getElementById(id);
const put = (id, text) => { $(id).textContent = text; };
document.title = TEXTS.title;
put('lastTen', TEXTS.last_ten); put('hNumber', TEXTS.number); put('hWeight', TEXTS.weight);
put('hUnit', TEXTS.unit); put('hTime', TEXTS.time); put('weight', TEXTS.no_reading);
const recent = [];
const localTime = iso => iso.slice(11, 19) + '  ' + iso.slice(0, 10);
function show(reading) {
  if (recent.length && recent[0].seq >= reading.seq) return;
  recent.unshift(reading);
  recent.length = Math.min(recent.length, 10);
  put('weight', reading.shown);
  $('weight').className = reading.kind === 'weight' ? '' : 'mark';
  put('unit', reading.kind === 'weight' ? reading.unit : '');
  put('when', localTime(reading.time));
  const rows = $('rows');
  rows.replaceChildren(...recent.map(r => {
    const tr = document.createElement('tr');
    for (const [text, cls] of [[r.number, 'num'], [r.shown, 'num'], [r.kind === 'weight' ? r.unit : '', ''], [localTime(r.time), 'num']]) {
      const td = document.createElement('td');
      td.textContent = text; td.className = cls; tr.appendChild(td);
    }
    return tr;
  }));
}
function showLink(status) {
  const key = { connected: 'connected', connecting: 'connecting', waiting: 'watching' }[status.link] || 'closed';
  put('link', TEXTS[key].replace('{port}', status.port));
  $('link').className = status.link === 'connected' ? '' : 'down';
}
async function pollStatus() {
  try {
    const answer = await fetch('status', { cache: 'no-store' });
    showLink(await answer.json());
  } catch (e) {
    put('link', TEXTS.lost); $('link').className = 'down';
  }
}
async function start() {
  let after = 0;
  try {
    const answer = await fetch('readings/latest', { cache: 'no-store' });
    if (answer.status === 200) after = Math.max(0, (await answer.json()).seq - 10);
  } catch (e) {}
  const stream = new EventSource('readings/stream?after=' + after);
  stream.addEventListener('reading', event => show(JSON.parse(event.data)));
  stream.onerror = () => pollStatus();
  pollStatus();
  setInterval(pollStatus, 2000);
  // A scale that is asked: its live weight, never a reading.
  new EventSource('weight/stream').addEventListener('weight', event => {
    const live = JSON.parse(event.data);
    $('live').hidden = false;
    put('liveWeight', live.weight === null ? '' : live.weight + ' ' + live.unit);
    put('liveState', live.state_text);
  });
}
start();
</script>
</body>
</html>
)PAGE";

// 128 bits from the system's random source, as hexadecimal digits (which
// are base64 digits as well).
std::string Nonce() {
    std::random_device random;
    std::string nonce;
    for (int i = 0; i < 4; ++i) {
        const uint32_t word = random();
        for (int shift = 28; shift >= 0; shift -= 4) nonce += "0123456789abcdef"[(word >> shift) & 0xF];
    }
    return nonce;
}

}  // namespace

LivePageAnswer LivePage(std::string_view textsJson) {
    // No '<' can end the script or open a comment in it: in JSON one
    // stands only inside a string, where \u003c means the same.
    std::string texts;
    for (const char c : textsJson) {
        if (c == '<') texts += "\\u003c";
        else texts += c;
    }
    const std::string nonce = Nonce();
    return {std::string(PAGE_HEAD) + nonce + PAGE_BODY + nonce + PAGE_SCRIPT + texts + PAGE_TAIL,
            "default-src 'none'; script-src 'nonce-" + nonce + "'; style-src 'nonce-" + nonce +
                "'; connect-src 'self'; base-uri 'none'; form-action 'none'; frame-ancestors 'none'"};
}

}  // namespace tarvex
