// Control requests on storage handles (a product's interface, its volumes,
// the system's disk and volume): pass-through, device numbers, and the disk
// and volume requests (geometry, layout, partition information, verify,
// lock, unlock, dismount), each code dispatched to its own handler.
#pragma once

#include <cstdint>

namespace sim {

struct BenchHandle;
class VolumeSystem;

bool StorageControl(VolumeSystem& volumes, BenchHandle& handle, uint32_t code, const void* in, uint32_t inSize,
                    void* out, uint32_t outSize, uint32_t* returned, uint32_t* error);

}  // namespace sim
