# Follows /api/events until COUNT "new" events have come: python3 follow_events.py PORT COUNT
import json
import sys

import websocket

events = websocket.create_connection(f"ws://127.0.0.1:{sys.argv[1]}/api/events", timeout=300)
print("ready", flush=True)
seen = 0
while seen < int(sys.argv[2]):
    if json.loads(events.recv()).get("Type") == "new":
        seen += 1
