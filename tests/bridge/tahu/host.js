// A Sparkplug host application for the bridge's tests, built on others'
// libraries: Eclipse Tahu's JavaScript payload library decodes and encodes
// every payload, the npm package mqtt speaks to the broker.  It reads what
// the node publishes as a host on those libraries reads it.
//
//   node host.js PORT GROUP
//
// Standard output: {"ready": true} once subscribed to spBv1.0/GROUP/#, then
// one line per message: {"topic": ..., "payload": the decoded payload}, with
// 64-bit numbers as JSON numbers where they fit (else strings) and a value
// the library cannot read as null.
// Standard input: one line per message to publish, {"topic": ..., "payload":
// a payload as the library encodes it}; answered {"published": topic}.
'use strict';

const mqtt = require('mqtt');
const sparkplug = require('sparkplug-payload').get('spBv1.0');
const readline = require('readline');

const [port, group] = process.argv.slice(2);
if (!port || !group) {
    console.error('usage: node host.js PORT GROUP');
    process.exit(2);
}

function say(object) {
    process.stdout.write(JSON.stringify(object, plain) + '\n');
}

// A 64-bit integer of the library (a Long: two 32-bit halves) as a plain
// number; undefined as null, so that a value the library did not read shows.
function plain(key, value) {
    if (value === undefined) return null;
    if (value && typeof value === 'object' && 'low' in value && 'high' in value && 'unsigned' in value) {
        const bits = (BigInt(value.high >>> 0) << 32n) | BigInt(value.low >>> 0);
        const number = value.unsigned ? bits : BigInt.asIntN(64, bits);
        return Number.isSafeInteger(Number(number)) ? Number(number) : number.toString();
    }
    return value;
}

const client = mqtt.connect(`mqtt://127.0.0.1:${port}`, { clean: true, reconnectPeriod: 500 });

client.on('connect', () => {
    client.subscribe(`spBv1.0/${group}/#`, { qos: 1 }, (error) => {
        if (error) {
            console.error(`subscription refused: ${error.message}`);
            process.exit(1);
        }
        say({ ready: true });
    });
});

client.on('message', (topic, bytes) => {
    let payload;
    try {
        payload = sparkplug.decodePayload(bytes);
    } catch (error) {
        payload = { undecodable: error.message };
    }
    // Each metric as the library gives it, its value included even when null.
    for (const metric of payload.metrics || []) if (!('value' in metric)) metric.value = null;
    say({ topic, payload });
});

client.on('error', (error) => console.error(`mqtt: ${error.message}`));

readline.createInterface({ input: process.stdin }).on('line', (line) => {
    if (!line.trim()) return;
    const { topic, payload } = JSON.parse(line);
    client.publish(topic, Buffer.from(sparkplug.encodePayload(payload)), { qos: 1 }, (error) => {
        if (error) console.error(`publish ${topic}: ${error.message}`);
        else say({ published: topic });
    });
}).on('close', () => client.end(true, () => process.exit(0)));
