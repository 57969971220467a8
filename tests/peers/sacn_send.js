// Sends E1.31 with the npm package "sacn" (its Sender), as a desk would.
// Usage: node sacn_send.js UNIVERSE CID_NUMBER PRIORITY FIRST_SEQUENCE SECONDS RATE CH=VALUE...
// Sends the channel values RATE times a second for SECONDS (at least once),
// sequence numbers counting up from FIRST_SEQUENCE, then exits.
'use strict';
const { Sender } = require('sacn');

const [universe, cidNumber, priority, firstSequence, seconds, rate] = process.argv.slice(2, 8).map(Number);
const payload = {};
for (const pair of process.argv.slice(8)) {
  const [channel, value] = pair.split('=').map(Number);
  payload[channel] = value;
}
const cid = Buffer.alloc(16, 0x5a);
cid.writeUInt16BE(cidNumber, 14);

const sender = new Sender({ universe, defaultPacketOptions: { cid, priority, useRawDmxValues: true, sourceName: 'npm sacn desk' } });
sender.sequence = firstSequence % 256;
const total = Math.max(1, Math.round(seconds * rate));
let sent = 0;
const tick = async () => {
  await sender.send({ payload });
  if (++sent >= total) {
    sender.close();
    return;
  }
  setTimeout(tick, 1000 / rate);
};
tick().catch((error) => {
  console.error(error);
  process.exit(1);
});
