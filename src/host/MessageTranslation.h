#pragma once

class TGnuGettextInstance;

// The serial library's messages through the translation engine: its text domain "cport"
// for resource strings and its message table. Needs no window.
void SetUpMessageTranslation(TGnuGettextInstance& gettext);
