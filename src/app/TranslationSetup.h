#pragma once

class TGnuGettextInstance;

// Puts the translation engine to work for the program, once at start before any window:
// the class rules for widget properties that are not words, the serial library's text
// domain "cport" for resource strings, its message table loaded through the translation,
// and the translation of the serial settings dialog when it is created. Raises EGnuGettext
// when a catalogue is present but cannot be read; the program does not start then.
void SetUpTranslation(TGnuGettextInstance& gettext);
// Disconnects the serial library again before the engine goes; texts already translated
// stay.
void TearDownTranslation();
