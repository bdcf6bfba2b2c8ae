#pragma once

// The sound libraries below PortAudio (ALSA, JACK) print dozens of diagnostics on stderr
// while PortAudio probes for devices, most of them on machines without sound cards or
// without a JACK server. None of them concerns this program; this turns them off.
// Idempotent; call before the first Pa_Initialize.
void silenceAudioDiagnostics();
