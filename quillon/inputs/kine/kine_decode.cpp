#include "quillon/inputs/kine/kine_decode.h"

#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "quillon/core/log.h"
#include "scene.pb-c.h"

namespace quillon
{

namespace
{

// Bump allocator for one decode at a time on one thread: the unpacked Scene
// lives only until its objects are copied out, so its many small parts come
// from one block that is reset afterwards. What does not fit is taken from
// the heap and freed at the reset.
class DecodeArena
{
public:
    static constexpr std::size_t kBlock = 64 * 1024;

    DecodeArena() : block(new std::max_align_t[kBlock / sizeof(std::max_align_t)]) {}
    ~DecodeArena() { reset(); }
    DecodeArena(const DecodeArena&) = delete;
    DecodeArena& operator=(const DecodeArena&) = delete;

    ProtobufCAllocator* allocator() { return &allocator_; }
    void reset()
    {
        used = 0;
        for (void* p : spill)
            std::free(p);
        spill.clear();
    }

private:
    static void* alloc(void* self, std::size_t size)
    {
        auto* arena = static_cast<DecodeArena*>(self);
        const std::size_t need =
            (size + alignof(std::max_align_t) - 1) & ~(alignof(std::max_align_t) - 1);
        if (need <= kBlock - arena->used) {
            void* p = reinterpret_cast<char*>(arena->block.get()) + arena->used;
            arena->used += need;
            return p;
        }
        void* p = std::malloc(size);
        if (p != nullptr)
            arena->spill.push_back(p);
        return p;
    }
    static void release(void*, void*) {}

    std::unique_ptr<std::max_align_t[]> block;
    std::size_t used = 0;
    std::vector<void*> spill;
    ProtobufCAllocator allocator_{alloc, release, this};
};

DecodeArena& threadArena()
{
    thread_local DecodeArena arena;
    return arena;
}

std::int32_t eventAction(int wire)
{
    if (wire == kKineDelete || wire == kKineSplit)
        return wire;
    return kKineMerge;
}

void fillObject(const Scene__Object& in, std::int64_t sceneTimeUs, KineObject& out)
{
    out.source = kSourceScene;
    out.id = in.id_opt_case == SCENE__OBJECT__ID_OPT_ID ? static_cast<std::int32_t>(in.id) : 0;
    out.confidenceThreshold = 1;
    // Truncation toward zero: 0.99 is 0, not confident.
    float confidence = 0.0f;
    if (in.confidence_opt_case == SCENE__OBJECT__CONFIDENCE_OPT_CONFIDENCE)
        confidence = in.confidence;
    // Out-of-range or NaN confidences read as 0 instead of overflowing.
    out.setConfidence(
        confidence >= 0.0f && confidence < 2147483520.0f ? static_cast<int>(confidence) : 0);
    out.objectType = -1;
    if (in.bounding_box_opt_case == SCENE__OBJECT__BOUNDING_BOX_OPT_BOUNDING_BOX &&
        in.bounding_box != nullptr) {
        const Scene__BoundingBox& b = *in.bounding_box;
        out.shape = Polygon::box(b.left, b.right, b.top, b.bottom);
    }
    if (in.velocity_opt_case == SCENE__OBJECT__VELOCITY_OPT_VELOCITY && in.velocity != nullptr) {
        out.velocityX = in.velocity->vx;
        out.velocityY = in.velocity->vy;
    }
    out.setTime(sceneTimeUs);
    out.setMoving(true);
}

} // namespace

bool decodeKineMessage(const std::uint8_t* buffer, std::size_t limit, KineSceneUpdate& out)
{
    std::uint32_t word = 0;
    if (buffer != nullptr && limit >= 4)
        word = (static_cast<std::uint32_t>(buffer[0]) << 24) |
               (static_cast<std::uint32_t>(buffer[1]) << 16) |
               (static_cast<std::uint32_t>(buffer[2]) << 8) | static_cast<std::uint32_t>(buffer[3]);
    // A word below 4 would make the protobuf length negative.
    const std::uint32_t length = word >= 4 ? word - 4 : 0;
    DecodeArena& arena = threadArena();
    Scene__Scene* scene = nullptr;
    if (word >= 4 && word <= limit && word <= kKineMaxFramed)
        scene = scene__scene__unpack(arena.allocator(), length, buffer + 4);
    if (scene == nullptr) {
        arena.reset();
        quillonLog(LOG_ERR, "Error decoding KINE protobuf data %p %u\n",
                   static_cast<const void*>(buffer), static_cast<unsigned>(word - 4));
        return false;
    }

    out.sceneTimeUs = scene->time_opt_case == SCENE__SCENE__TIME_OPT_TIME
                          ? static_cast<std::int64_t>(scene->time / 1000)
                          : 0;
    out.events.clear();
    out.events.reserve(scene->n_events);
    for (std::size_t i = 0; i < scene->n_events; i++) {
        const Scene__Event& e = *scene->events[i];
        KineEvent event;
        // Unknown actions arrive as values outside the enum: read the field
        // as the int it is stored as.
        std::int32_t wire = 0;
        static_assert(sizeof(e.action) == sizeof(wire));
        std::memcpy(&wire, &e.action, sizeof wire);
        event.action = eventAction(wire);
        event.objectId = e.object_id;
        event.objectIds.assign(e.object_ids, e.object_ids + e.n_object_ids);
        out.events.push_back(std::move(event));
    }
    out.objects.clear();
    out.objects.resize(scene->n_objects);
    for (std::size_t i = 0; i < scene->n_objects; i++)
        fillObject(*scene->objects[i], out.sceneTimeUs, out.objects[i]);
    scene__scene__free_unpacked(scene, arena.allocator());
    arena.reset();
    return true;
}

} // namespace quillon
