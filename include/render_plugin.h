/*
 * render_plugin.h - the contract between a host application and the
 * Quorvix render plugin (Quorvix.rpi).
 *
 * A host loads the module as a dynamic library, looks up the two entry points
 * below by name and calls them on its own thread:
 *
 *   RenderPluginGetInfo()   returns the module's info record (name, flags).
 *   RenderPluginOutput(p)   enlarges one frame of 16-bit pixels to twice its
 *                           width and height (Scale2x) into the host's target.
 *
 * Refusal rule: when the target is too small for the doubled image in either
 * direction, RenderPluginOutput leaves the target untouched and still reports
 * the doubled size in ResultWidth / ResultHeight. A host detects the refusal
 * by ResultWidth > TargetWidth or ResultHeight > TargetHeight. A doubled size
 * past 32 bits reads 0xFFFFFFFF, which a drawn image (always even) never has,
 * so that value too marks a refusal. Nothing else is
 * validated: pointers and pitches are the host's to get right. Source and
 * target may sit at any even address and have any even pitch.
 *
 * Plain C99; also valid C++. Every record has a fixed layout whose offsets are
 * checked at compile time below.
 */
#ifndef RENDER_PLUGIN_H
#define RENDER_PLUGIN_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Calling convention of both entry points: the platform's C convention. */
#if defined(_WIN32) && !defined(_WIN64)
#define RENDER_PLUGIN_CALL __cdecl
#else
#define RENDER_PLUGIN_CALL
#endif

/* One pixel: an opaque 16-bit code. The plugin only compares pixels for
 * equality and copies them, so any 16-bit colour layout passes unchanged. */
typedef uint16_t Pixel16;

#define RENDER_PLUGIN_NAME_SIZE 60
#define RENDER_PLUGIN_FLAGS 0x00000B01u

/* The module's one info record. Owned by the plugin, static, alive while the
 * module is loaded; the host reads it through RenderPluginGetInfo(). */
typedef struct RenderPluginInfo {
    /* plugin -> host: display name, NUL-terminated, zero-padded. */
    char Name[RENDER_PLUGIN_NAME_SIZE];
    /* plugin -> host: always RENDER_PLUGIN_FLAGS. */
    uint32_t Flags;
    /* host -> host: the host's own slot, typically the module handle it got
     * from its loader. The plugin never writes it (zero until the host does). */
    void* ModuleHandle;
} RenderPluginInfo;

/* One frame's parameters. Owned and filled by the host for the duration of
 * one RenderPluginOutput call; the plugin keeps no pointer to it. A host may
 * append fields of its own after ResultHeight. */
typedef struct RenderPluginOutputParams {
    uint32_t HostWord0;     /* host only: never read or written by the plugin */
    uint32_t HostWord1;     /* host only: never read or written by the plugin */
    const Pixel16* SourcePixels; /* host -> plugin: first pixel of the top source row */
    uint32_t SourcePitch;   /* host -> plugin: bytes between source row starts (even) */
    uint32_t SourceWidth;   /* host -> plugin: pixels per source row */
    uint32_t SourceHeight;  /* host -> plugin: source rows */
    Pixel16* TargetPixels;  /* host -> plugin: first pixel of the top target line */
    uint32_t TargetPitch;   /* host -> plugin: bytes between target line starts (even) */
    uint32_t TargetWidth;   /* host -> plugin: pixels available per target line */
    uint32_t TargetHeight;  /* host -> plugin: target lines available */
    uint32_t ResultWidth;   /* plugin -> host: 2 x SourceWidth, saturated at 0xFFFFFFFF */
    uint32_t ResultHeight;  /* plugin -> host: 2 x SourceHeight, saturated at 0xFFFFFFFF */
} RenderPluginOutputParams;

/* Entry points, exported under exactly these names. */
RenderPluginInfo* RENDER_PLUGIN_CALL RenderPluginGetInfo(void);
void RENDER_PLUGIN_CALL RenderPluginOutput(RenderPluginOutputParams* params);

/* The same, as pointer types for a host that looks them up at run time. */
typedef RenderPluginInfo* (RENDER_PLUGIN_CALL* RenderPluginGetInfoFn)(void);
typedef void (RENDER_PLUGIN_CALL* RenderPluginOutputFn)(RenderPluginOutputParams* params);

/* Layout checks: a mismatch stops the build instead of corrupting a host. */
#if defined(__cplusplus)
#define RENDER_PLUGIN_CHECK(cond, what) static_assert(cond, #what)
#else
#define RENDER_PLUGIN_CHECK(cond, what) \
    typedef char render_plugin_check_##what[(cond) ? 1 : -1]
#endif

RENDER_PLUGIN_CHECK(sizeof(Pixel16) == 2, pixel_size);
RENDER_PLUGIN_CHECK(offsetof(RenderPluginInfo, Name) == 0, info_name);
RENDER_PLUGIN_CHECK(offsetof(RenderPluginInfo, Flags) == 60, info_flags);
RENDER_PLUGIN_CHECK(offsetof(RenderPluginInfo, ModuleHandle) == 64, info_handle);
RENDER_PLUGIN_CHECK(offsetof(RenderPluginOutputParams, HostWord0) == 0, params_host0);
RENDER_PLUGIN_CHECK(offsetof(RenderPluginOutputParams, HostWord1) == 4, params_host1);
RENDER_PLUGIN_CHECK(offsetof(RenderPluginOutputParams, SourcePixels) == 8, params_src);

#if UINTPTR_MAX == 0xFFFFFFFFu
/* 32-bit build: every field 32 bits, packed without gaps. */
RENDER_PLUGIN_CHECK(sizeof(RenderPluginInfo) == 68, info_size);
RENDER_PLUGIN_CHECK(offsetof(RenderPluginOutputParams, SourcePitch) == 12, params_spitch);
RENDER_PLUGIN_CHECK(offsetof(RenderPluginOutputParams, SourceWidth) == 16, params_sw);
RENDER_PLUGIN_CHECK(offsetof(RenderPluginOutputParams, SourceHeight) == 20, params_sh);
RENDER_PLUGIN_CHECK(offsetof(RenderPluginOutputParams, TargetPixels) == 24, params_dst);
RENDER_PLUGIN_CHECK(offsetof(RenderPluginOutputParams, TargetPitch) == 28, params_tpitch);
RENDER_PLUGIN_CHECK(offsetof(RenderPluginOutputParams, TargetWidth) == 32, params_tw);
RENDER_PLUGIN_CHECK(offsetof(RenderPluginOutputParams, TargetHeight) == 36, params_th);
RENDER_PLUGIN_CHECK(offsetof(RenderPluginOutputParams, ResultWidth) == 40, params_rw);
RENDER_PLUGIN_CHECK(offsetof(RenderPluginOutputParams, ResultHeight) == 44, params_rh);
RENDER_PLUGIN_CHECK(sizeof(RenderPluginOutputParams) == 48, params_size);
#elif UINTPTR_MAX == 0xFFFFFFFFFFFFFFFFu
/* 64-bit build: the same fields in the same order, naturally aligned. */
RENDER_PLUGIN_CHECK(sizeof(RenderPluginInfo) == 72, info_size);
RENDER_PLUGIN_CHECK(offsetof(RenderPluginOutputParams, SourcePitch) == 16, params_spitch);
RENDER_PLUGIN_CHECK(offsetof(RenderPluginOutputParams, SourceWidth) == 20, params_sw);
RENDER_PLUGIN_CHECK(offsetof(RenderPluginOutputParams, SourceHeight) == 24, params_sh);
RENDER_PLUGIN_CHECK(offsetof(RenderPluginOutputParams, TargetPixels) == 32, params_dst);
RENDER_PLUGIN_CHECK(offsetof(RenderPluginOutputParams, TargetPitch) == 40, params_tpitch);
RENDER_PLUGIN_CHECK(offsetof(RenderPluginOutputParams, TargetWidth) == 44, params_tw);
RENDER_PLUGIN_CHECK(offsetof(RenderPluginOutputParams, TargetHeight) == 48, params_th);
RENDER_PLUGIN_CHECK(offsetof(RenderPluginOutputParams, ResultWidth) == 52, params_rw);
RENDER_PLUGIN_CHECK(offsetof(RenderPluginOutputParams, ResultHeight) == 56, params_rh);
RENDER_PLUGIN_CHECK(sizeof(RenderPluginOutputParams) == 64, params_size);
#endif

#undef RENDER_PLUGIN_CHECK

#ifdef __cplusplus
}
#endif

#endif /* RENDER_PLUGIN_H */
