// Extra export of the stand-in engine: lets the stand-in plug-ins write to
// the engine's record, so one file shows the whole start-up in order.
#pragma once

#if defined(KORVELA_STANDIN_ENGINE_BUILD)
#define KORVELA_STANDIN_API extern "C" __declspec(dllexport)
#else
#define KORVELA_STANDIN_API extern "C" __declspec(dllimport)
#endif

KORVELA_STANDIN_API void KorvelaStandInRecord(const char* line);
