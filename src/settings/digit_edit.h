#pragma once
// Digit boxes hold digits only, however text gets in: key presses are
// filtered key by key where the box is made; pasted (also by the middle
// button), dropped, composed or programmatically set text is filtered here.

class QLineEdit;

// From now on every character of `edit` that is not a decimal digit is
// removed as soon as it arrives; the cursor stays where the kept text puts it.
void KeepDigitsOnly(QLineEdit* edit);
