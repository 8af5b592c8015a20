#include "descriptions/hair_params.h"

#include "descriptions/descriptions_support.h"

namespace {

using HairParams = DescriptionsTest;

}  // namespace

// Two descriptions of one name chain in one bucket; the lookup compares
// name records and finds the first; visibility is reset along chains. Reset
// and assign leave next, name and width_scale alone; reset makes the
// description's own name its area group and equalizer map.
TEST_F(HairParams, SameNameTwiceChainsAndResetKeepsTheChain) {
    hair_name* name = names_add("mane");
    hair_params *hp = hair_params_list_add(name), *after = hair_params_list_add(name);
    EXPECT_TRUE(after == hp->next && hp == hair_params_list_find(name));
    hair_name sameText = *name;
    EXPECT_EQ(nullptr, hair_params_list_find(&sameText));
    hp->visibility = after->visibility = false;
    hair_params_init_visibility();
    EXPECT_TRUE(hp->visibility && after->visibility);
    const std::string fresh = captured([&] { hair_params_dump(hp, 0); });
    hair_params src;
    src.area_group = names_add("g");
    src.length.set_constant(3.0f);
    src.width_scale = 9.0f;
    hp->width_scale = 3.0f;
    hair_params_assign(hp, &src);
    EXPECT_TRUE(hp->area_group == src.area_group && hp->length.base == 3.0f);
    hair_params_reset(hp);
    EXPECT_TRUE(hp->next == after && hp->name == name && hp->width_scale == 3.0f);
    EXPECT_TRUE(hp->area_group == name && hp->reference_equalmap == name);
    EXPECT_EQ(fresh, captured([&] { hair_params_dump(hp, 0); }));
}

// Spawning (spawn_factor above 0 as a constant: a linstep's upper value) needs spawn_params.
TEST_F(HairParams, ValidityOfSpawning) {
    hair_params hp;
    const bool none = hair_params_valid(&hp);
    hp.spawn_factor.set_linstep(0, 10, -1, 0.25f);
    const bool without = hair_params_valid(&hp);
    hp.spawn_params = names_add("child");
    EXPECT_TRUE(none && !without && hair_params_valid(&hp));
    hp.spawn_params = nullptr;
    hp.spawn_factor.set_constant(-1.0f);
    EXPECT_TRUE(hair_params_valid(&hp));
}

// --- Evaluation -----------------------------------------------------------------------

TEST_F(HairParams, EvalVarsAndVertexAtRootAndTip) {
    hair_params hp;
    hp.var[0].set_constant(3.0f);
    // var[1] = var[0] * 2: variables see the ones evaluated before them.
    hp.var[1].set_var(0);
    hp.var[1].op = HP_OP_MUL;
    hp.var[1].append(new hp_scalar(2.0f));
    hp.var[4].set_linstep(0, 10, 0, 1);
    defs.frame = 5;
    for (double& v : hs_.vars) v = 99.0;
    EXPECT_EQ("", captured([&] { hair_params_eval_vars(&hp, &hs_); }));
    EXPECT_EQ((std::vector<double>{3, 6, 0, 0, 0.5, 0, 0, 0, 0, 0}),
              std::vector<double>(hs_.vars, hs_.vars + 10));
    hp.var[9].set_constant(1.25f);
    EXPECT_EQ("DEBUG: vars[9] = 1.250000\n", captured([&] { hair_params_eval_vars(&hp, &hs_); }));
    EXPECT_DOUBLE_EQ(1.25, hs_.vars[9]);
    // The vertex at the root and the tip.
    hp.width_scale = 2.0f;
    hp.ambient_base.set_constant(kivColor(0.1f, 0.2f, 0.3f));
    hp.diffuse_base.set_constant(kivColor(0.4f, 0.5f, 0.6f));
    hp.specular.set_constant(kivColor(0.7f, 0.8f, 0.9f));
    hp.opacity_base.set_constant(0.75f);
    hp.width_base.set_constant(0.5f);
    // {ambient r g b, diffuse r g b, opacity, width, specular g}: without tip values
    // the tip repeats the root; the width is width_base (or width_tip) times width_scale.
    auto vertex = [&](int tip) {
        const hair_vertex v = hair_params_eval_vertex(&hp, &hs_, tip);
        EXPECT_TRUE(v.ambient.a == 1 && v.diffuse.a == 1 && v.specular.a == 1);
        return std::vector<float>{v.ambient.r, v.ambient.g, v.ambient.b, v.diffuse.r, v.diffuse.g,
                                  v.diffuse.b, v.opacity,   v.width,     v.specular.g};
    };
    const std::vector<float> root = {0.1f, 0.2f, 0.3f, 0.4f, 0.5f, 0.6f, 0.75f, 1, 0.8f};
    for (int tip : {0, 1, 7}) EXPECT_EQ(root, vertex(tip)) << tip;
    hp.ambient_tip.set_constant(kivColor(1, 1, 1));
    hp.diffuse_tip.set_constant(kivColor(0, 0, 0));
    hp.opacity_tip.set_constant(0.25f);
    hp.width_tip.set_var(3);
    hs_.vars[3] = 0.125;
    EXPECT_EQ(root, vertex(0));
    EXPECT_EQ((std::vector<float>{1, 1, 1, 0, 0, 0, 0.25f, 0.25f, 0.8f}), vertex(1));
}

TEST(Linterp, InterpolatesAndWarnsOutsideTheUnitRange) {
    hair_vertex a, b;
    a.ambient = kivColor(0, 0, 0, 0), b.ambient = kivColor(1, 0.5f, 0.25f, 1);
    a.diffuse = kivColor(1, 1, 1, 1), b.diffuse = kivColor(0, 0, 0, 0);
    a.specular = kivColor(0.3f, 0.3f, 0.3f, 0.3f), b.specular = kivColor(0.9f, 0.9f, 0.9f, 0.9f);
    a.width = 2.0f, b.width = 1.0f, a.opacity = 1.0f, b.opacity = 0.0f;
    std::string out;
    for (float t : {0.5f, 0.0f, 1.0f, 1.5f, -0.25f}) {
        hair_vertex v;
        out += captured([&] { v = linterp(a, b, t); });
        expect_color(v.ambient, t, 0.5f * t, 0.25f * t, t);
        expect_color(v.diffuse, 1 - t, 1 - t, 1 - t, 1 - t);
        expect_color(v.specular, 0.3f, 0.3f, 0.3f, 0.3f);  // always a's
        EXPECT_TRUE(v.width == 2 - t && v.opacity == 1 - t) << t;
    }
    EXPECT_EQ("WARNING: linterp val = 1.500000\nWARNING: linterp val = -0.250000\n", out);
}
