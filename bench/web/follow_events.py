# Follows /api/events until COUNT "new" events have come:
#   python3 follow_events.py PORT COUNT [QUERY]
# QUERY as the inbox asks, e.g. "batch=1&brief=1": a batched message holds an array of events.
import json
import sys

import websocket

query = f"?{sys.argv[3]}" if len(sys.argv) > 3 and sys.argv[3] else ""
events = websocket.create_connection(f"ws://127.0.0.1:{sys.argv[1]}/api/events{query}", timeout=300)
print("ready", flush=True)
seen = 0
while seen < int(sys.argv[2]):
    message = json.loads(events.recv())
    for event in message if isinstance(message, list) else [message]:
        if event.get("Type") == "new":
            seen += 1
