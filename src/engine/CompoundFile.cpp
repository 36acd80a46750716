#include "engine/CompoundFile.h"

#include <gsf/gsf-infile-msole.h>
#include <gsf/gsf-infile.h>
#include <gsf/gsf-input-memory.h>
#include <gsf/gsf-utils.h>

#include <memory>

namespace Engine {

namespace {

// Storages inside storages: deeper than any Access file goes, and a damaged file cannot loop.
constexpr int kDeepest = 32;
constexpr std::size_t kMostEntries = 200000;

struct Unref
{
    void operator()(gpointer object) const { g_object_unref(object); }
};

class Walk
{
public:
    explicit Walk(std::size_t maxStreamBytes) : m_maxStreamBytes(maxStreamBytes) {}

    // The children of the storage whose row has this id.
    bool storage(GsfInfile *infile, std::int64_t id, int depth)
    {
        const int children = gsf_infile_num_children(infile);
        for (int i = 0; i < children; ++i) {
            std::unique_ptr<GsfInput, Unref> child(gsf_infile_child_by_index(infile, i));
            if (!child)
                continue;
            if (m_rows.size() >= kMostEntries || depth > kDeepest)
                return false;
            StorageRow row;
            row.id = ++m_lastId;
            row.parentId = id;
            const char *name = gsf_input_name(child.get());
            row.name = name ? std::string(name) : std::string();
            const bool isStorage = GSF_IS_INFILE(child.get()) && gsf_infile_num_children(GSF_INFILE(child.get())) >= 0;
            row.type = isStorage ? 1 : 2;
            if (!isStorage)
                readStream(child.get(), row);
            m_rows.push_back(row);
            if (isStorage && !storage(GSF_INFILE(child.get()), *row.id, depth + 1))
                return false;
        }
        return true;
    }

    std::vector<StorageRow> take() { return std::move(m_rows); }

    void addRoot()
    {
        StorageRow root;
        root.id = root.parentId = 1;
        root.name = "MSysAccessStorage_ROOT";
        root.type = 1;
        m_rows.push_back(root);
    }

private:
    void readStream(GsfInput *stream, StorageRow &row)
    {
        const gsf_off_t size = gsf_input_size(stream);
        if (size < 0 || std::uint64_t(size) > m_maxStreamBytes) {
            row.damaged = true;
            return;
        }
        std::vector<std::uint8_t> bytes(static_cast<std::size_t>(size));
        if (size > 0 && !gsf_input_read(stream, std::size_t(size), bytes.data())) {
            row.damaged = true;
            return;
        }
        row.bytes = std::move(bytes);
    }

    std::size_t m_maxStreamBytes;
    std::vector<StorageRow> m_rows;
    std::int64_t m_lastId = 1;
};

} // namespace

std::optional<std::vector<StorageRow>> compoundFileRows(std::span<const std::uint8_t> file, std::size_t maxStreamBytes,
                                                        std::string &problem)
{
    static const bool initialised = [] {
        gsf_init();
        return true;
    }();
    (void)initialised;
    std::unique_ptr<GsfInput, Unref> input(
        gsf_input_memory_new(reinterpret_cast<const guint8 *>(file.data()), gsf_off_t(file.size()), FALSE));
    if (!input) {
        problem = "the application's compound file cannot be read";
        return std::nullopt;
    }
    GError *error = nullptr;
    std::unique_ptr<GsfInfile, Unref> root(gsf_infile_msole_new(input.get(), &error));
    if (!root) {
        problem = std::string("the application's compound file cannot be read: ") +
                  (error && error->message ? error->message : "it is not one");
        if (error)
            g_error_free(error);
        return std::nullopt;
    }
    Walk walk(maxStreamBytes);
    walk.addRoot();
    if (!walk.storage(root.get(), 1, 0)) {
        problem = "the application's compound file has more storages and streams than any Access makes";
        return std::nullopt;
    }
    return walk.take();
}

} // namespace Engine
