#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <random>
#include <vector>

#include "heap-support.h"
#include "runtime/collector.h"
#include "runtime/fire.h"
#include "runtime/memory.h"
#include "runtime/sorting.h"

namespace kiv {

namespace {

// A record: a key that decides the order and a serial number that tells
// equal keys apart; `pad` makes records of other sizes.
struct Rec {
    std::uint32_t key;
    std::uint32_t serial;
};

struct Counter {
    long calls = 0;
    long throw_at = -1;  // the call that raises, -1 for none
};

int by_key(const void* a, const void* b, void* context, std::uint32_t flags) {
    auto* counter = static_cast<Counter*>(context);
    if (counter && counter->calls++ == counter->throw_at) fire(ErrorId::script_invalid_arg);
    std::uint32_t ka, kb;
    std::memcpy(&ka, a, 4);
    std::memcpy(&kb, b, 4);
    int c = ka < kb ? -1 : ka > kb ? 1 : 0;
    return flags ? -c : c;  // flags 1: reverse order
}

using Sorter = void (*)(void*, std::size_t, std::size_t, void*, std::uint32_t, sort::Compare);

void merge_sorter(void* base, std::size_t n, std::size_t size, void* ctx, std::uint32_t flags,
                  sort::Compare cmp) {
    sort::merge_sort(base, n, size, ctx, flags, cmp);
}

const Sorter sorters[] = {merge_sorter, sort::quicksort};

std::vector<Rec> make(std::size_t n, const char* shape, std::mt19937& rng) {
    std::vector<Rec> v(n);
    for (std::size_t i = 0; i < n; ++i) {
        std::uint32_t k;
        if (!std::strcmp(shape, "random")) k = rng();
        else if (!std::strcmp(shape, "few")) k = rng() % 4;
        else if (!std::strcmp(shape, "sorted")) k = static_cast<std::uint32_t>(i);
        else if (!std::strcmp(shape, "reversed")) k = static_cast<std::uint32_t>(n - i);
        else if (!std::strcmp(shape, "nearly")) k = static_cast<std::uint32_t>(i + rng() % 20);
        else if (!std::strcmp(shape, "nearly-down")) k = static_cast<std::uint32_t>(n - i + rng() % 20);
        else k = static_cast<std::uint32_t>(i % 50);  // saw
        v[i] = Rec{k, static_cast<std::uint32_t>(i)};
    }
    return v;
}

bool same_records(std::vector<Rec> a, std::vector<Rec> b) {
    auto key = [](const Rec& x, const Rec& y) { return x.serial < y.serial; };
    std::sort(a.begin(), a.end(), key);
    std::sort(b.begin(), b.end(), key);
    return std::equal(a.begin(), a.end(), b.begin(),
                      [](const Rec& x, const Rec& y) { return x.serial == y.serial && x.key == y.key; });
}

}  // namespace

TEST(Sorting, SortsEveryShape) {
    std::mt19937 rng(7);
    const char* shapes[] = {"random", "few", "sorted", "reversed", "nearly", "nearly-down", "saw"};
    for (std::size_t n : {2u, 3u, 7u, 8u, 25u, 100u, 1000u, 5000u}) {
        for (const char* shape : shapes) {
            for (int s = 0; s < 2; ++s) {
                std::vector<Rec> v = make(n, shape, rng);
                std::vector<Rec> in = v;
                sorters[s](v.data(), n, sizeof(Rec), nullptr, 0, by_key);
                bool ordered = std::is_sorted(v.begin(), v.end(),
                                              [](const Rec& a, const Rec& b) { return a.key < b.key; });
                EXPECT_TRUE(ordered) << (s ? "quicksort " : "merge sort ") << shape << " " << n;
                EXPECT_TRUE(same_records(in, v));
                if (s == 0) {  // stable: equal keys keep their serial order
                    std::stable_sort(in.begin(), in.end(),
                                     [](const Rec& a, const Rec& b) { return a.key < b.key; });
                    EXPECT_TRUE(std::equal(in.begin(), in.end(), v.begin(), [](const Rec& a, const Rec& b) {
                        return a.serial == b.serial;
                    })) << shape << " " << n;
                }
            }
        }
    }
}

TEST(Sorting, RecordSizesAndReverseFlag) {
    // records of 2, 6 and 16 bytes whose first 4 bytes (or 2) hold the key
    for (std::size_t size : {2u, 6u, 16u}) {
        std::mt19937 rng(static_cast<unsigned>(size));
        const std::size_t n = 300;
        std::vector<std::uint8_t> data(n * size);
        for (auto& b : data) b = static_cast<std::uint8_t>(rng());
        for (int s = 0; s < 2; ++s) {
            std::vector<std::uint8_t> v = data;
            auto cmp = [](const void* a, const void* b, void*, std::uint32_t flags) {
                int c = std::memcmp(a, b, 2);
                return flags ? -c : c;
            };
            sorters[s](v.data(), n, size, nullptr, 1, cmp);
            for (std::size_t i = 1; i < n; ++i)
                ASSERT_GE(std::memcmp(&v[(i - 1) * size], &v[i * size], 2), 0) << size;
            std::vector<std::vector<std::uint8_t>> a, b;
            for (std::size_t i = 0; i < n; ++i) {
                a.emplace_back(&data[i * size], &data[i * size] + size);
                b.emplace_back(&v[i * size], &v[i * size] + size);
            }
            std::sort(a.begin(), a.end());
            std::sort(b.begin(), b.end());
            EXPECT_EQ(a, b) << "records intact, size " << size;
        }
    }
}

TEST(Sorting, MergeSortEdgeCases) {
    Counter counter;
    Rec one{5, 0};
    sort::merge_sort(&one, 1, sizeof(Rec), &counter, 0, by_key);
    sort::quicksort(&one, 1, sizeof(Rec), &counter, 0, by_key);
    sort::merge_sort(nullptr, 0, sizeof(Rec), &counter, 0, by_key);
    EXPECT_EQ(counter.calls, 0);

    // [b1 a b2] gives [a b1 b2]
    std::vector<Rec> v = {{2, 1}, {1, 0}, {2, 2}};
    sort::merge_sort(v.data(), 3, sizeof(Rec), nullptr, 0, by_key);
    EXPECT_EQ(v[0].serial, 0u);
    EXPECT_EQ(v[1].serial, 1u);
    EXPECT_EQ(v[2].serial, 2u);

    // a strictly descending input is one run: n - 1 comparisons, no merge
    std::mt19937 rng(1);
    std::vector<Rec> down = make(1000, "reversed", rng);
    counter = {};
    sort::merge_sort(down.data(), down.size(), sizeof(Rec), &counter, 0, by_key);
    EXPECT_EQ(counter.calls, 999);
    EXPECT_TRUE(std::is_sorted(down.begin(), down.end(), [](const Rec& a, const Rec& b) { return a.key < b.key; }));
}

TEST(Sorting, QuicksortPresortedInputIsAboutOnePass) {
    std::mt19937 rng(3);
    for (const char* shape : {"sorted", "reversed"}) {
        std::vector<Rec> v = make(10000, shape, rng);
        Counter counter;
        sort::quicksort(v.data(), v.size(), sizeof(Rec), &counter, 0, by_key);
        EXPECT_LT(counter.calls, 10200) << shape;
        EXPECT_TRUE(std::is_sorted(v.begin(), v.end(), [](const Rec& a, const Rec& b) { return a.key < b.key; }));
    }
}

// Whenever the callback raises, every record is still there exactly once.
TEST(Sorting, RaisingCallbackLosesNoRecord) {
    std::mt19937 rng(11);
    for (int s = 0; s < 2; ++s) {
        for (const char* shape : {"random", "few", "nearly"}) {
            std::vector<Rec> in = make(500, shape, rng);
            Counter full;
            std::vector<Rec> probe = in;
            sorters[s](probe.data(), probe.size(), sizeof(Rec), &full, 0, by_key);
            for (long at = 0; at < full.calls; at += 1 + full.calls / 97) {
                std::vector<Rec> v = in;
                Counter counter{0, at};
                bool raised = false;
                try {
                    sorters[s](v.data(), v.size(), sizeof(Rec), &counter, 0, by_key);
                } catch (const KivError&) {
                    raised = true;
                }
                EXPECT_TRUE(raised);
                ASSERT_TRUE(same_records(in, v)) << (s ? "quicksort " : "merge sort ") << shape << " at " << at;
            }
        }
    }
}

}  // namespace kiv

namespace kiv {

namespace {

// An adversary that decides the order lazily so as to make a quicksort's
// pivots as bad as it can; the records are indexes into its values.
struct Adversary {
    std::vector<std::uint32_t> value;
    std::uint32_t gas;
    std::uint32_t solid = 0;
    long candidate = -1;
    long calls = 0;
};

int adversary_compare(const void* a, const void* b, void* context, std::uint32_t) {
    auto* adv = static_cast<Adversary*>(context);
    ++adv->calls;
    std::uint32_t x, y;
    std::memcpy(&x, a, 4);
    std::memcpy(&y, b, 4);
    if (adv->value[x] == adv->gas && adv->value[y] == adv->gas)
        adv->value[x == adv->candidate ? x : y] = adv->solid++;
    if (adv->value[x] == adv->gas) adv->candidate = x;
    else if (adv->value[y] == adv->gas) adv->candidate = y;
    return adv->value[x] < adv->value[y] ? -1 : adv->value[x] > adv->value[y] ? 1 : 0;
}

}  // namespace

TEST(Sorting, QuicksortStaysNLogNAgainstAnAdversary) {
    const std::uint32_t n = 20000;
    Adversary adv{std::vector<std::uint32_t>(n, n), n};
    std::vector<std::uint32_t> v(n);
    for (std::uint32_t i = 0; i < n; ++i) v[i] = i;
    sort::quicksort(v.data(), n, 4, &adv, 0, adversary_compare);
    EXPECT_LT(adv.calls, 20L * n * 15);
    for (std::uint32_t i = 1; i < n; ++i) ASSERT_LT(adv.value[v[i - 1]], adv.value[v[i]]);
}

// A callback without a consistent order may give any order, but never
// loses, repeats or reads outside a record.
TEST(Sorting, InconsistentCallbackKeepsRecords) {
    std::mt19937 rng(5);
    auto coin = [](const void*, const void*, void* context, std::uint32_t) {
        return static_cast<int>((*static_cast<std::mt19937*>(context))() % 3) - 1;
    };
    for (int s = 0; s < 2; ++s) {
        std::vector<Rec> in = make(3000, "random", rng);
        std::vector<Rec> v = in;
        sorters[s](v.data(), v.size(), sizeof(Rec), &rng, 0, coin);
        EXPECT_TRUE(same_records(in, v));
    }
}

}  // namespace kiv

namespace kiv {

// Cells whose strings nothing else holds: while the merge sort's callback
// collects, the cells waiting in the work buffer must keep their strings.
TEST(Sorting, CellRecordsSurviveCollectionsInTheCallback) {
    test::isolated([] {
        collector::set_active(true);
        const std::uint32_t n = 400;
        NodeId block = memory::alloc_cells(n);
        memory::SeriesBuffer* b = memory::buffer_of(block);
        for (std::uint32_t i = 0; i < n; ++i) {
            NodeId s = memory::alloc_bytes(8);
            memory::SeriesBuffer* sb = memory::buffer_of(s);
            std::uint32_t key = (i * 7919) % n;
            std::memcpy(sb->head(), &key, 4);
            sb->set_tail(sb->head() + 4);
            b = memory::buffer_of(block);  // GC: the block may have moved
            Cell* c = b->cells() + i;
            *c = Cell{static_cast<std::uint32_t>(Type::binary), 0, s, 0};
            b->set_tail(c + 1);
        }
        auto by_text = [](const void* x, const void* y, void* context, std::uint32_t) {
            long* calls = static_cast<long*>(context);
            if (++*calls % 50 == 0) test::collect();
            std::uint32_t kx, ky;
            std::memcpy(&kx, memory::buffer_of(static_cast<const Cell*>(x)->data2)->head(), 4);
            std::memcpy(&ky, memory::buffer_of(static_cast<const Cell*>(y)->data2)->head(), 4);
            return kx < ky ? -1 : kx > ky ? 1 : 0;
        };
        long calls = 0;
        // GC: the block's buffer is pinned by the pointer the sort holds.
        sort::merge_sort(memory::buffer_of(block)->cells(), n, sizeof(Cell), &calls, 0, by_text, true);
        test::collect();
        b = memory::buffer_of(block);
        for (std::uint32_t i = 0; i < n; ++i) {
            std::uint32_t key;
            std::memcpy(&key, memory::buffer_of(b->cells()[i].data2)->head(), 4);
            ASSERT_EQ(key, i);
        }
        test::expect_heap_sound();
    });
}

}  // namespace kiv
