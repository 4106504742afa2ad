#pragma once
// The wave-input service as the capture code calls it, spelled as winmm spells it.
// On Windows this is winmm itself. Elsewhere the same calls, types and numbers are
// declared here and provided by one backend (wavein_alsa.cpp, or the tests' double).
//
// Calls: waveInOpen, waveInPrepareHeader, waveInAddBuffer, waveInStart, waveInStop,
// waveInReset, waveInClose. Each returns MMSYSERR_NOERROR (0) or an error number;
// finished buffers come back through the callback given to waveInOpen as WIM_DATA.

#ifdef _WIN32

#include <windows.h>
// windows.h first: mmsystem.h builds on its types.
#include <mmsystem.h>

namespace tavrel {

/// The completion callback as waveInOpen takes it (CALLBACK_FUNCTION).
using WaveInProc = void(CALLBACK*)(HWAVEIN, UINT, DWORD_PTR, DWORD_PTR, DWORD_PTR);

}  // namespace tavrel

#else

#include <cstdint>

namespace tavrel {

using UINT = unsigned int;
using WORD = uint16_t;
using DWORD = uint32_t;
using DWORD_PTR = uintptr_t;
using LPSTR = char*;
using MMRESULT = UINT;

struct WaveInDevice;  ///< defined by the backend
using HWAVEIN = WaveInDevice*;

struct WAVEFORMATEX {
  WORD wFormatTag;        ///< WAVE_FORMAT_PCM
  WORD nChannels;         ///< channels per sample frame
  DWORD nSamplesPerSec;   ///< sample frames per second
  DWORD nAvgBytesPerSec;  ///< bytes per second
  WORD nBlockAlign;       ///< bytes per sample frame
  WORD wBitsPerSample;    ///< bits per sample of one channel
  WORD cbSize;            ///< extra format bytes; 0 for PCM
};

struct WAVEHDR {
  LPSTR lpData;           ///< the caller's buffer
  DWORD dwBufferLength;   ///< bytes the device may fill
  DWORD dwBytesRecorded;  ///< bytes filled, set by the device
  DWORD_PTR dwUser;       ///< the caller's own value
  DWORD dwFlags;          ///< WHDR_* bits
  DWORD dwLoops;          ///< unused for input
  WAVEHDR* lpNext;        ///< the device's queue link
  DWORD_PTR reserved;     ///< the device's own value
};

using WaveInProc = void (*)(HWAVEIN, UINT, DWORD_PTR, DWORD_PTR, DWORD_PTR);

constexpr UINT WAVE_MAPPER = static_cast<UINT>(-1);
constexpr DWORD CALLBACK_NULL = 0x00000000;
constexpr DWORD CALLBACK_FUNCTION = 0x00030000;
constexpr DWORD CALLBACK_TYPEMASK = 0x00070000;
constexpr WORD WAVE_FORMAT_PCM = 1;

constexpr UINT WIM_OPEN = 0x3BE;
constexpr UINT WIM_CLOSE = 0x3BF;
constexpr UINT WIM_DATA = 0x3C0;

constexpr DWORD WHDR_DONE = 0x01;
constexpr DWORD WHDR_PREPARED = 0x02;
constexpr DWORD WHDR_INQUEUE = 0x10;

constexpr MMRESULT MMSYSERR_NOERROR = 0;
constexpr MMRESULT MMSYSERR_ERROR = 1;
constexpr MMRESULT MMSYSERR_BADDEVICEID = 2;
constexpr MMRESULT MMSYSERR_ALLOCATED = 4;
constexpr MMRESULT MMSYSERR_INVALHANDLE = 5;
constexpr MMRESULT MMSYSERR_NODRIVER = 6;
constexpr MMRESULT MMSYSERR_NOMEM = 7;
constexpr MMRESULT MMSYSERR_INVALFLAG = 10;
constexpr MMRESULT MMSYSERR_INVALPARAM = 11;
constexpr MMRESULT WAVERR_BADFORMAT = 32;
constexpr MMRESULT WAVERR_STILLPLAYING = 33;
constexpr MMRESULT WAVERR_UNPREPARED = 34;

/// Opens the default input (WAVE_MAPPER) in `pwfx`'s format; `dwCallback` is a WaveInProc
/// when fdwOpen is CALLBACK_FUNCTION. Any thread but the callback's.
MMRESULT waveInOpen(HWAVEIN* phwi, UINT uDeviceID, const WAVEFORMATEX* pwfx, DWORD_PTR dwCallback,
                    DWORD_PTR dwInstance, DWORD fdwOpen);
/// Marks a header ready for waveInAddBuffer.
MMRESULT waveInPrepareHeader(HWAVEIN hwi, WAVEHDR* pwh, UINT cbwh);
/// Queues a prepared buffer; also called from the callback to give a buffer back.
MMRESULT waveInAddBuffer(HWAVEIN hwi, WAVEHDR* pwh, UINT cbwh);
/// Starts filling the queued buffers in order.
MMRESULT waveInStart(HWAVEIN hwi);
/// Stops filling; a partly filled buffer comes back as done, empty ones stay queued.
MMRESULT waveInStop(HWAVEIN hwi);
/// Stops and gives back every queued buffer through the callback before returning.
MMRESULT waveInReset(HWAVEIN hwi);
/// Closes the device; fails with WAVERR_STILLPLAYING while buffers are queued.
MMRESULT waveInClose(HWAVEIN hwi);

}  // namespace tavrel

#endif
