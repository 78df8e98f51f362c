// The published client's chaos calls, unchanged: set, read back, reset. Usage: node chaos.mjs URL
import assert from "node:assert/strict";
import { MailpitClient } from "mailpit-api";

const api = new MailpitClient(process.argv[2]);
const set = await api.setChaosTriggers({ Recipient: { ErrorCode: 421, Probability: 100 } });
assert.deepEqual(set.Recipient, { ErrorCode: 421, Probability: 100 });
assert.deepEqual(set.Sender, { ErrorCode: 451, Probability: 0 });
assert.deepEqual(set.Authentication, { ErrorCode: 535, Probability: 0 });
assert.deepEqual(await api.getChaosTriggers(), set);
await assert.rejects(api.setChaosTriggers({ Sender: { ErrorCode: 200, Probability: 1 } }), /400/);
assert.deepEqual(await api.getChaosTriggers(), set, "a refused change changes nothing");
console.log(JSON.stringify(set));
