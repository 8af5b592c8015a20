#include "descriptions/hair_params.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "descriptions/cache_support.h"
#include "foundation/render_settings.h"

namespace {

// A name table and an empty description list for each test.
class HairParams : public testing::Test {
  protected:
    void SetUp() override { ASSERT_EQ(names_init(31), 1); }
    void TearDown() override {
        hair_params_list_clear();
        names_done();
    }

    SettingsGuard guard_;
    hair_state hs_;
};

std::string Dump(const hair_params* hp, int all) {
    testing::internal::CaptureStdout();
    hair_params_dump(hp, all);
    std::fflush(stdout);
    return testing::internal::GetCapturedStdout();
}

void ExpectColor(const kivColor& c, float r, float g, float b, float a) {
    EXPECT_FLOAT_EQ(c.r, r);
    EXPECT_FLOAT_EQ(c.g, g);
    EXPECT_FLOAT_EQ(c.b, b);
    EXPECT_FLOAT_EQ(c.a, a);
}

void ExpectConstant(const hp_scalar& s, float value, const char* field) {
    EXPECT_EQ(s.kind, HP_CONSTANT) << field;
    EXPECT_EQ(s.base, value) << field;
    EXPECT_EQ(s.next, nullptr) << field;
}

// Every field of hp holds the defaults of a new description named name.
void ExpectDefaults(const hair_params& hp, hair_name* name) {
    EXPECT_EQ(hp.area_group, name);
    EXPECT_EQ(hp.reference_equalmap, name);
    EXPECT_EQ(hp.spawn_params, nullptr);
    for (int i = 0; i < 16; ++i) EXPECT_EQ(hp.matrix.m[i], i % 5 == 0 ? 1.0f : 0.0f) << i;
    EXPECT_TRUE(hp.prim_visibility);
    EXPECT_TRUE(hp.casts_shadows);
    EXPECT_TRUE(hp.visibility);
    EXPECT_EQ(hp.light_model, 2);
    EXPECT_EQ(hp.equalizer_type, -1);
    hair_state hs;
    ExpectColor(hp.ambient_base.eval(hs), 0, 0, 0, 0);
    ExpectColor(hp.diffuse_base.eval(hs), 0, 0, 0, 0);
    ExpectColor(hp.specular.eval(hs), 1, 1, 1, 1);
    EXPECT_FALSE(hp.ambient_tip.defined());
    EXPECT_FALSE(hp.diffuse_tip.defined());
    for (const hp_scalar* s : {&hp.equalizer, &hp.baldness, &hp.width_tip, &hp.opacity_tip})
        EXPECT_FALSE(s->defined());
    for (const hp_scalar& v : hp.var) EXPECT_FALSE(v.defined());
    const struct {
        const hp_scalar& value;
        float expected;
        const char* field;
    } scalars[] = {{hp.sharpness, 5, "sharpness"},
                   {hp.density, 100, "density"},
                   {hp.width_base, 1, "width_base"},
                   {hp.length, 1, "length"},
                   {hp.frequency, 1, "frequency"},
                   {hp.opacity_base, 1, "opacity_base"},
                   {hp.curl_base, 0.5f, "curl_base"},
                   {hp.curl_tip, 0.5f, "curl_tip"},
                   {hp.scraggle, 0, "scraggle"},
                   {hp.correlation, 0, "correlation"},
                   {hp.erectness, 0.5f, "erectness"},
                   {hp.polar, 0, "polar"},
                   {hp.roll, 0.5f, "roll"},
                   {hp.orient_var, 0, "orient_var"},
                   {hp.segments, 1, "segments"},
                   {hp.attractors, 0, "attractors"},
                   {hp.offset, 0, "offset"},
                   {hp.custom_equalizer, 1, "custom_equalizer"},
                   {hp.clump, 0, "clump"},
                   {hp.clumpfrequency, 0, "clumpfrequency"},
                   {hp.clumpshape, 0, "clumpshape"},
                   {hp.usamples, 0, "usamples"},
                   {hp.vsamples, 0, "vsamples"},
                   {hp.spawn_factor, 0, "spawn_factor"},
                   {hp.spawn_segment, 0, "spawn_segment"}};
    for (const auto& s : scalars) ExpectConstant(s.value, s.expected, s.field);
}

const char kDefaultBody[] =
    "    light_model = 2 ;\n"
    "    ambient_base = < 0.000000, 0.000000, 0.000000> ;\n"
    "    diffuse_base = < 0.000000, 0.000000, 0.000000> ;\n"
    "    specular = < 1.000000, 1.000000, 1.000000> ;\n"
    "    sharpness = 5.000000 ;\n"
    "    opacity_base = 1.000000 ;\n"
    "    density = 100.000000 ;\n"
    "    width_base = 1.000000 ;\n"
    "    length = 1.000000 ;\n"
    "    frequency = 1.000000 ;\n"
    "    curl_base = 0.500000 ;\n"
    "    curl_tip = 0.500000 ;\n"
    "    scraggle = 0.000000 ;\n"
    "    correlation = 0.000000 ;\n"
    "    erectness = 0.500000 ;\n"
    "    polar = 0.000000 ;\n"
    "    roll = 0.500000 ;\n"
    "    orient_var = 0.000000 ;\n"
    "    segments = 1.000000 ;\n"
    "    attractors = 0.000000 ;\n"
    "    offset = 0.000000 ;\n"
    "    custom_equalizer = 1.000000 ;\n"
    "    equalizer_type = -1 ;\n"
    "    spawn_factor = 0.000000 ;\n"
    "    spawn_segment = 0.000000 ;\n"
    "}\n\n";

}  // namespace

// --- The list -------------------------------------------------------------------

TEST_F(HairParams, NewDescriptionHasTheDefaults) {
    hair_name* name = names_add("fur");
    hair_params* hp = hair_params_list_add(name);
    ASSERT_NE(hp, nullptr);
    EXPECT_EQ(hp->name, name);
    EXPECT_EQ(hp->next, nullptr);
    EXPECT_EQ(hp->width_scale, 1.0f);
    ExpectDefaults(*hp, name);
    EXPECT_EQ(hair_params_list_count(), 1);
    EXPECT_EQ(hair_params_list_find(name), hp);
    EXPECT_EQ(hair_params_list_bucket(hash_it(HAIR_PARAMS_BUCKETS, "fur")), hp);

    // The reader's scratch record has no name.
    const hair_params scratch;
    ExpectDefaults(scratch, nullptr);
}

TEST_F(HairParams, SameNameTwiceChainsBothAndFindsTheFirst) {
    hair_name* name = names_add("mane");
    hair_params* first = hair_params_list_add(name);
    hair_params* second = hair_params_list_add(name);
    EXPECT_NE(first, second);
    EXPECT_EQ(first->next, second);
    EXPECT_EQ(hair_params_list_find(name), first);
    EXPECT_EQ(hair_params_list_count(), 2);
    // The lookup compares records, not texts.
    hair_name same_text = *name;
    EXPECT_EQ(hair_params_list_find(&same_text), nullptr);
}

TEST_F(HairParams, BucketsKeepDescriptionsApart) {
    ASSERT_EQ(names_init(256), 1);  // room for 200 names
    std::vector<hair_params*> added;
    for (int i = 0; i < 200; ++i)
        added.push_back(hair_params_list_add(names_add(("d" + std::to_string(i)).c_str())));
    EXPECT_EQ(hair_params_list_count(), 200);
    for (int i = 0; i < 200; ++i)
        EXPECT_EQ(hair_params_list_find(names_find(("d" + std::to_string(i)).c_str())), added[i]);
    EXPECT_EQ(hair_params_list_find(names_add("absent")), nullptr);
    int total = 0;
    for (int b = 0; b < HAIR_PARAMS_BUCKETS; ++b)
        for (hair_params* hp = hair_params_list_bucket(b); hp; hp = hp->next) {
            EXPECT_EQ(hash_it(HAIR_PARAMS_BUCKETS, hp->name->name), b);
            ++total;
        }
    EXPECT_EQ(total, 200);
    EXPECT_EQ(hair_params_list_bucket(-1), nullptr);
    EXPECT_EQ(hair_params_list_bucket(HAIR_PARAMS_BUCKETS), nullptr);
    hair_params_list_clear();
    EXPECT_EQ(hair_params_list_count(), 0);
    EXPECT_EQ(hair_params_list_find(names_find("d0")), nullptr);
}

TEST_F(HairParams, VisibilityIsResetOnEveryDescription) {
    hair_name* name = names_add("a");
    hair_params* a = hair_params_list_add(name);
    hair_params* b = hair_params_list_add(name);
    hair_params* c = hair_params_list_add(names_add("c"));
    a->set_visibility(false);
    b->visibility = false;
    c->set_visibility(false);
    hair_params_init_visibility();
    EXPECT_TRUE(a->visibility);
    EXPECT_TRUE(b->visibility);
    EXPECT_TRUE(c->visibility);
}

TEST(HairParamsWunits, SetAndGet) {
    EXPECT_EQ(hair_params_get_wunits(), 1.0f);
    hair_params_set_wunits(2.54f);
    EXPECT_EQ(hair_params_get_wunits(), 2.54f);
    hair_params_set_wunits(1.0f);
}

// --- Reset, assign, valid -------------------------------------------------------------

TEST_F(HairParams, ResetKeepsNextNameAndWidthScale) {
    hair_name* name = names_add("fur");
    hair_params* hp = hair_params_list_add(name);
    hair_params* after = hair_params_list_add(name);
    hp->width_scale = 3.0f;
    hp->area_group = names_add("group");
    hp->spawn_params = names_add("other");
    hp->light_model = 0;
    hp->matrix.m[3] = 5.0f;
    hp->prim_visibility = hp->casts_shadows = hp->visibility = false;
    hp->length.set_noise(1, 2, 3);
    hp->var[4].set_constant(1);
    hp->ambient_tip.set_constant(kivColor(1, 0, 0));
    hair_params_reset(hp);
    EXPECT_EQ(hp->next, after);
    EXPECT_EQ(hp->name, name);
    EXPECT_EQ(hp->width_scale, 3.0f);
    ExpectDefaults(*hp, name);
}

TEST_F(HairParams, AssignCopiesEverythingButNextNameAndWidthScale) {
    hair_params src;
    src.width_scale = 9.0f;
    src.area_group = names_add("g");
    src.reference_equalmap = names_add("eq");
    src.spawn_params = names_add("sp");
    src.light_model = 3;
    src.equalizer_type = 2;
    src.matrix.m[12] = 4.0f;
    src.casts_shadows = false;
    src.visibility = false;
    src.diffuse_tip.set_constant(kivColor(0.25f, 0.5f, 0.75f));
    src.baldness.set_image("bald.$F.tex", "r");
    src.var[7].set_linstep(0, 10, 1, 2);
    src.clumpshape.set_constant(0.75f);

    hair_name* name = names_add("target");
    hair_params* hp = hair_params_list_add(name);
    hair_params* after = hair_params_list_add(name);
    hair_params_assign(hp, &src);
    EXPECT_EQ(hp->next, after);
    EXPECT_EQ(hp->name, name);
    EXPECT_EQ(hp->width_scale, 1.0f);
    EXPECT_EQ(hp->area_group, src.area_group);
    EXPECT_EQ(hp->reference_equalmap, src.reference_equalmap);
    EXPECT_EQ(hp->spawn_params, src.spawn_params);
    EXPECT_EQ(hp->light_model, 3);
    EXPECT_EQ(hp->equalizer_type, 2);
    EXPECT_EQ(hp->matrix.m[12], 4.0f);
    EXPECT_FALSE(hp->casts_shadows);
    EXPECT_FALSE(hp->visibility);
    EXPECT_EQ(hp->clumpshape.base, 0.75f);
    EXPECT_EQ(hp->var[7].kind, HP_LINSTEP);
    // The values are the description's own: the source can be reset.
    hair_params_reset(&src);
    EXPECT_STREQ(hp->baldness.name, "$bald.$F.tex");
    ExpectColor(hp->diffuse_tip.eval(hs_), 0.25f, 0.5f, 0.75f, 1);
}

TEST_F(HairParams, ValidityOfSpawning) {
    hair_params hp;
    EXPECT_TRUE(hair_params_valid(&hp));
    hp.spawn_factor.set_constant(0.5f);
    EXPECT_FALSE(hair_params_valid(&hp));
    hp.spawn_params = names_add("child");
    EXPECT_TRUE(hair_params_valid(&hp));
    hp.spawn_params = nullptr;
    hp.spawn_factor.set_constant(-1.0f);
    EXPECT_TRUE(hair_params_valid(&hp));
    // Evaluated as a constant: a linstep counts with its upper value.
    hp.spawn_factor.set_linstep(0, 10, -1, 0.25f);
    EXPECT_FALSE(hair_params_valid(&hp));
}

// --- Evaluation -----------------------------------------------------------------------

TEST_F(HairParams, EvalVarsFillsTheHairState) {
    hair_params hp;
    hp.var[0].set_constant(3.0f);
    // var[1] = var[0] * 2: variables see the ones evaluated before them.
    hp.var[1].set_var(0);
    hp.var[1].op = HP_OP_MUL;
    hp.var[1].append(new hp_scalar(2.0f));
    hp.var[4].set_linstep(0, 10, 0, 1);
    defs.frame = 5;
    for (double& v : hs_.vars) v = 99.0;
    testing::internal::CaptureStdout();
    hair_params_eval_vars(&hp, &hs_);
    std::fflush(stdout);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    const double expected[10] = {3, 6, 0, 0, 0.5, 0, 0, 0, 0, 0};
    for (int i = 0; i < 10; ++i) EXPECT_DOUBLE_EQ(hs_.vars[i], expected[i]) << i;

    hp.var[9].set_constant(1.25f);
    testing::internal::CaptureStdout();
    hair_params_eval_vars(&hp, &hs_);
    std::fflush(stdout);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "DEBUG: vars[9] = 1.250000\n");
    EXPECT_DOUBLE_EQ(hs_.vars[9], 1.25);
}

TEST_F(HairParams, EvalVertexAtRootAndTip) {
    hair_params hp;
    hp.width_scale = 2.0f;
    hp.ambient_base.set_constant(kivColor(0.1f, 0.2f, 0.3f));
    hp.diffuse_base.set_constant(kivColor(0.4f, 0.5f, 0.6f));
    hp.specular.set_constant(kivColor(0.7f, 0.8f, 0.9f));
    hp.opacity_base.set_constant(0.75f);
    hp.width_base.set_constant(0.5f);

    // Without tip values the tip repeats the root.
    for (int tip : {0, 1, 7}) {
        const hair_vertex v = hair_params_eval_vertex(&hp, &hs_, tip);
        ExpectColor(v.ambient, 0.1f, 0.2f, 0.3f, 1);
        ExpectColor(v.diffuse, 0.4f, 0.5f, 0.6f, 1);
        ExpectColor(v.specular, 0.7f, 0.8f, 0.9f, 1);
        EXPECT_FLOAT_EQ(v.opacity, 0.75f);
        EXPECT_FLOAT_EQ(v.width, 1.0f);  // width_base * width_scale
    }

    hp.ambient_tip.set_constant(kivColor(1, 1, 1));
    hp.diffuse_tip.set_constant(kivColor(0, 0, 0));
    hp.opacity_tip.set_constant(0.25f);
    hp.width_tip.set_var(3);
    hs_.vars[3] = 0.125;
    const hair_vertex root = hair_params_eval_vertex(&hp, &hs_, 0);
    const hair_vertex tip = hair_params_eval_vertex(&hp, &hs_, 1);
    ExpectColor(root.ambient, 0.1f, 0.2f, 0.3f, 1);
    ExpectColor(tip.ambient, 1, 1, 1, 1);
    ExpectColor(tip.diffuse, 0, 0, 0, 1);
    ExpectColor(tip.specular, 0.7f, 0.8f, 0.9f, 1);
    EXPECT_FLOAT_EQ(root.opacity, 0.75f);
    EXPECT_FLOAT_EQ(tip.opacity, 0.25f);
    EXPECT_FLOAT_EQ(root.width, 1.0f);
    EXPECT_FLOAT_EQ(tip.width, 0.25f);
}

TEST(Linterp, InterpolatesAndWarnsOutsideTheUnitRange) {
    hair_vertex a, b;
    a.ambient = kivColor(0, 0, 0, 0);
    b.ambient = kivColor(1, 0.5f, 0.25f, 1);
    a.diffuse = kivColor(1, 1, 1, 1);
    b.diffuse = kivColor(0, 0, 0, 0);
    a.specular = kivColor(0.3f, 0.3f, 0.3f, 0.3f);
    b.specular = kivColor(0.9f, 0.9f, 0.9f, 0.9f);
    a.width = 2.0f;
    b.width = 1.0f;
    a.opacity = 1.0f;
    b.opacity = 0.0f;

    testing::internal::CaptureStdout();
    const hair_vertex mid = linterp(a, b, 0.5f);
    const hair_vertex ends[2] = {linterp(a, b, 0.0f), linterp(a, b, 1.0f)};
    std::fflush(stdout);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    ExpectColor(mid.ambient, 0.5f, 0.25f, 0.125f, 0.5f);
    ExpectColor(mid.diffuse, 0.5f, 0.5f, 0.5f, 0.5f);
    ExpectColor(mid.specular, 0.3f, 0.3f, 0.3f, 0.3f);  // always a's
    EXPECT_FLOAT_EQ(mid.width, 1.5f);
    EXPECT_FLOAT_EQ(mid.opacity, 0.5f);
    EXPECT_FLOAT_EQ(ends[0].width, 2.0f);
    EXPECT_FLOAT_EQ(ends[1].width, 1.0f);
    ExpectColor(ends[1].specular, 0.3f, 0.3f, 0.3f, 0.3f);

    testing::internal::CaptureStdout();
    const hair_vertex over = linterp(a, b, 1.5f);
    const hair_vertex under = linterp(a, b, -0.25f);
    std::fflush(stdout);
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "WARNING: linterp val = 1.500000\nWARNING: linterp val = -0.250000\n");
    EXPECT_FLOAT_EQ(over.width, 0.5f);
    EXPECT_FLOAT_EQ(over.opacity, -0.5f);
    ExpectColor(over.ambient, 1.5f, 0.75f, 0.375f, 1.5f);
    EXPECT_FLOAT_EQ(under.width, 2.25f);
}

// --- Dump ----------------------------------------------------------------------------

TEST_F(HairParams, DumpOfTheDefaults) {
    hair_params* hp = hair_params_list_add(names_add("fur"));
    EXPECT_EQ(Dump(hp, 0), std::string("hair \"fur\"\n{\n") + kDefaultBody);
}

TEST_F(HairParams, DumpWithEveryOptionalField) {
    hair_params* hp = hair_params_list_add(names_add("full"));
    hp->ambient_tip.set_constant(kivColor(1, 0, 0));
    hp->diffuse_tip.set_image("tip.$F.tex", "rgb");
    hp->opacity_tip.set_constant(0.5f);
    hp->equalizer.set_image("$M.eq.iff", "r");
    hp->baldness.set_noise(4, 0, 1);
    hp->width_tip.set_constant(0.25f);
    hp->spawn_factor.set_constant(0.5f);
    hp->spawn_params = names_add("child");
    hp->var[0].set_linstep(1, 24, 0, 2);
    hp->var[9].set_crvdata("v.crv", 1);
    hp->length.set_constant(2.0f);
    hp->length.op = HP_OP_MUL;
    hp->length.append(new hp_scalar(3.0f));
    hp->equalizer_type = 2;
    hp->clump.set_constant(0.9f);  // clump values are not printed
    const std::string expected =
        "hair \"full\"\n"
        "{\n"
        "    light_model = 2 ;\n"
        "    ambient_base = < 0.000000, 0.000000, 0.000000> ;\n"
        "    ambient_tip = < 1.000000, 0.000000, 0.000000> ;\n"
        "    diffuse_base = < 0.000000, 0.000000, 0.000000> ;\n"
        "    diffuse_tip = image( \"tip.$F.tex\", \"rgb\" ) ;\n"
        "    specular = < 1.000000, 1.000000, 1.000000> ;\n"
        "    sharpness = 5.000000 ;\n"
        "    opacity_base = 1.000000 ;\n"
        "    opacity_tip = 0.500000 ;\n"
        "    density = 100.000000 ;\n"
        "    equalizer = image( \"$M.eq.iff\", \"r\" ) ;\n"
        "    baldness = noise( 4.000000, 0.000000, 1.000000 ) ;\n"
        "    width_base = 1.000000 ;\n"
        "    width_tip = 0.250000 ;\n"
        "    length = 2.000000 * 3.000000 ;\n"
        "    frequency = 1.000000 ;\n"
        "    curl_base = 0.500000 ;\n"
        "    curl_tip = 0.500000 ;\n"
        "    scraggle = 0.000000 ;\n"
        "    correlation = 0.000000 ;\n"
        "    erectness = 0.500000 ;\n"
        "    polar = 0.000000 ;\n"
        "    roll = 0.500000 ;\n"
        "    orient_var = 0.000000 ;\n"
        "    segments = 1.000000 ;\n"
        "    attractors = 0.000000 ;\n"
        "    offset = 0.000000 ;\n"
        "    custom_equalizer = 1.000000 ;\n"
        "    equalizer_type = 2 ;\n"
        "    spawn_factor = 0.500000 ;\n"
        "    spawn_params = child ;\n"
        "    spawn_segment = 0.000000 ;\n"
        "    var[0] = linstep( 1, 24, 0.000000, 2.000000 ) ;\n"
        "    var[9] = crvdata( \"v.crv\", 1 ) ;\n"
        "}\n\n";
    EXPECT_EQ(Dump(hp, 0), expected);
}

TEST_F(HairParams, DumpFollowsTheLightModelAndTheChain) {
    hair_name* name = names_add("flat");
    hair_params* first = hair_params_list_add(name);
    hair_params* second = hair_params_list_add(name);
    first->light_model = 0;
    first->diffuse_tip.set_constant(kivColor(1, 1, 1));  // not printed at model 0
    first->opacity_base.reset();
    first->opacity_tip.set_constant(0.5f);  // needs opacity_base
    second->light_model = 1;
    const std::string out = Dump(first, 1);
    const std::string first_text =
        "hair \"flat\"\n{\n"
        "    light_model = 0 ;\n"
        "    ambient_base = < 0.000000, 0.000000, 0.000000> ;\n"
        "    density = 100.000000 ;\n";
    EXPECT_EQ(out.substr(0, first_text.size()), first_text);
    const std::size_t second_at = out.find("hair \"flat\"", 1);
    ASSERT_NE(second_at, std::string::npos);
    const std::string second_text = out.substr(second_at);
    EXPECT_NE(second_text.find("    diffuse_base = "), std::string::npos);
    EXPECT_EQ(second_text.find("    specular = "), std::string::npos);
    EXPECT_EQ(second_text.find("    sharpness = "), std::string::npos);
    // Without the flag only the first is printed.
    EXPECT_EQ(Dump(first, 0), out.substr(0, second_at));
}
