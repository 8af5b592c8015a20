#include "descriptions/assign_db.h"

#include <random>

#include "descriptions/descriptions_support.h"

namespace {

using Names = std::vector<std::string>;

// A table of 64 records and descriptions d0, d1 (area group g1) and d2 (g2).
class AssignTable : public DescriptionsTest {
  protected:
    void SetUp() override {
        ASSERT_EQ(assdb_init(64), 1);
        for (const char* d : {"d0", "d1", "d2"})
            hair_params_list_add(names_add(d))->area_group = names_add(d[1] == '2' ? "g2" : "g1");
    }
    void TearDown() override { assdb_done(); }
};

}  // namespace

// Random mixes of assignments, model multipliers and group multipliers on a
// few models against a model of the rules: nodes pushed at the head (the
// lists come back newest first, across the pool's blocks of nodes), a group
// multiplier set on the nodes of that group that exist at that moment, and
// a lookup that takes the first node of the description.
TEST_F(AssignTable, MultipliersFollowTheFirstNodeOfADescription) {
    const char* groups[] = {"g1", "g2", "nogroup"};
    for (unsigned seed = 1; seed <= 6; ++seed) {
        std::mt19937 rng(seed);
        const int models = 1 + seed % 3;
        // Each model's nodes in list order: description and multiplier (-1: none).
        std::vector<std::vector<std::pair<int, float>>> nodes(models);
        std::vector<float> own(models, 1.0f);
        std::vector<hair_name*> names;
        for (int m = 0; m < models; ++m)
            names.push_back(names_add(("m" + std::to_string(m)).c_str()));
        for (int step = 0; step < 240; ++step) {
            const int m = int(rng() % models), d = int(rng() % 3), op = int(rng() % 4);
            const float x = float(rng() % 16) / 4;
            if (op < 2) {
                assdb_assign_hair(("d" + std::to_string(d)).c_str(), names[m]);
                nodes[m].insert(nodes[m].begin(), {d, -1});
            } else if (op == 2) {
                assdb_set_density_mult(names[m], x, nullptr);
                own[m] = x;
            } else {
                assdb_set_density_mult(names[m], x, groups[d]);
                for (auto& [desc, mult] : nodes[m])
                    if ((desc == 2 ? 1 : 0) == d) mult = x;
            }
        }
        for (int m = 0; m < models; ++m) {
            Names want, got;
            for (const auto& n : nodes[m]) want.push_back("d" + std::to_string(n.first));
            int n = -1;
            hair_params** list = nullptr;
            assdb_get_model_hair(names[m], &n, &list);
            for (int i = 0; i < n; ++i) got.push_back(list[i]->name->name);
            EXPECT_EQ(got, want) << seed << " m" << m;
            for (int d = 0; d < 3; ++d) {
                auto first = std::find_if(nodes[m].begin(), nodes[m].end(),
                                          [&](const auto& n) { return n.first == d; });
                const float mult =
                    first != nodes[m].end() && first->second >= 0 ? first->second : own[m];
                const hair_name* desc = names_find(("d" + std::to_string(d)).c_str());
                EXPECT_EQ(assdb_get_density_mult(names[m], desc), mult) << seed << " m" << m << d;
            }
        }
        for (hair_name* n : names) names_remove(n);
        assdb_done();
        ASSERT_EQ(assdb_init(64), 1);
    }
    EXPECT_EQ(assdb_get_density_mult(nullptr, names_find("d0")), 1.0f);
}

// A light has one kind of settings (a copy of its own); the shadow-light
// lists leave out the lights a pass excludes; a light excluded from both
// renders counts as having settings; a model with hair cannot be a light.
TEST_F(AssignTable, LightSettingsAndShadowLightLists) {
    hair_name *key = names_add("key"), *fill = names_add("fill"), *rim = names_add("rim"),
              *off = names_add("off");
    MapParams p, got;
    init_mapparams(&p);
    char projector[] = "slides/gobo.rla";
    p.shadow_projector = projector;
    AutoParams a;
    init_autoparams(&a);
    ASSERT_TRUE(assdb_set_shadmap_params(key, p) && assdb_set_autoshade_params(fill, a) &&
                assdb_set_autoshade_params(rim, a));
    projector[0] = 'X';
    ASSERT_EQ(assdb_get_shadmap_params(key, &got), 1);
    EXPECT_STREQ(got.shadow_projector, "slides/gobo.rla");
    assdb_exclude_smap_render(rim);
    assdb_exclude_smap_render(off);
    EXPECT_EQ(
        (std::vector<int>{0, 0, 1, 0, 1, 0}),
        (std::vector<int>{assdb_get_shadmap_params(fill, &got), assdb_get_autoshade_params(key, &a),
                          assdb_has_shadow_map(key), assdb_has_shadow_map(fill),
                          assdb_has_light_params(rim), assdb_has_light_params(off)}));
    assdb_exclude_hair_render(off);
    EXPECT_EQ(assdb_has_light_params(off), 1);
    EXPECT_EQ(assdb_get_nb_shadow_lights(1) * 10 + assdb_get_nb_shadow_lights(0), 23);
    hair_name* list[3] = {};
    EXPECT_EQ(assdb_get_shadow_lights_list(3, list, 1), 2);
    EXPECT_TRUE(list[0] == key && list[1] == fill);
    EXPECT_EQ(assdb_get_shadow_lights_list(1, list, 0), 1);
    ASSERT_EQ(assdb_set_autoshade_params(key, a), 1);
    EXPECT_EQ(assdb_has_shadow_map(key), 0);
    hair_name* m = names_add("furry");
    assdb_assign_hair("d0", m);
    EXPECT_EQ(captured([&] {
                  EXPECT_EQ(assdb_set_shadmap_params(m, p), 0);
                  EXPECT_EQ(assdb_assign_hair("d1", key), 0);
              }),
              expected_text("light_settings.printed"));
}
