#pragma once

// Lets screen readers read the message body view as a read-only text, its caret and selection,
// and find where each character is on screen. Idempotent; the view calls it as it is made.
void installBodyAccessibility();
