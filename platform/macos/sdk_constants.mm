// The logic is written with plain numbers in the SDK's bit positions and
// values (platform/key_events.h, and the protocol's raw flags), so that it
// builds and is tested anywhere. Here the macOS build holds each of them to
// the SDK's own constant: should one ever drift, the build stops instead of
// the helper misreading keys.
#import <AppKit/AppKit.h>
#include <ApplicationServices/ApplicationServices.h>

#include "platform/key_events.h"

static_assert(capsLockFlag == NSEventModifierFlagCapsLock);
static_assert(shiftFlag == NSEventModifierFlagShift);
static_assert(controlFlag == NSEventModifierFlagControl);
static_assert(optionFlag == NSEventModifierFlagOption);
static_assert(commandFlag == NSEventModifierFlagCommand);
static_assert(functionFlag == NSEventModifierFlagFunction);

static_assert(flagsChangedEventMask == NSEventMaskFlagsChanged);
static_assert(keyDownEventMask == NSEventMaskKeyDown);
static_assert(keyDownEventType == NSEventTypeKeyDown);
static_assert(flagsChangedEventType == NSEventTypeFlagsChanged);

// Plain numbers too where the helper is described: accessory is 1, success is 0.
static_assert(NSApplicationActivationPolicyAccessory == 1);
static_assert(kAXErrorSuccess == 0);
