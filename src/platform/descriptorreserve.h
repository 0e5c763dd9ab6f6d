#pragma once

// Descriptors kept free for files and dialogs: every server of the process refuses
// (or trades for an idle one) a connection that would eat into them, so a flood of
// connections on any port never leaves a count file or the screen without one.
namespace DescriptorReserve {

// Descriptors that stay free: an eighth of the soft limit, at least kMinimum.
constexpr int kMinimum = 64;
int reserve();
// Whether at least reserve() descriptors are still free below the soft limit (the open ones
// counted, holes below the highest open one are free room).
bool enoughFree();

} // namespace DescriptorReserve
