#include "descriptions/hair_records.h"

#include "descriptions/hair_params.h"
#include "test_support.h"

// {light model, end, r, g, b, a}; -1 stands for no description (model 2).
TEST(MotionBlurPoint, ColourOfEitherEndOfAFollicleClampsAndShadowPassIsBlack) {
    SettingsGuard guard;
    defs.shadows.shadow_pass = 0;
    follicle f;
    f.zdepth[0] = 10.0f, f.zdepth[1] = 12.0f;
    f.attr1.ambient = kivColor(0.1f, 0.1f, 0.1f, 0.5f);
    f.attr1.diffuse = kivColor(0.5f, 0.25f, 0.0f, 1);
    f.attr1.opacity = 0.8f;
    f.attr2.ambient = kivColor(-1, 0.3f, 0.4f, 0);
    f.attr2.opacity = 0.6f;
    f.mtl_components[0] = kivColor(0.5f, 0.5f, 0.5f, 0.5f);
    f.mtl_components[1] = kivColor(0.2f, 0.4f, 0.6f, 1);
    hair_params hp;
    hp.light_model = 0;
    const motion_blur_pnt root(f, &hp, 3, 4, 5, 6, 1), tip(f, &hp, 3, 4, 5, 6, 2);
    EXPECT_EQ((std::vector<float>{3, 4, 10, 5, 6, 12}),
              (std::vector<float>{root.x, root.y, root.z, tip.x, tip.y, tip.z}));
    expect_color(root, 0.1f, 0.1f, 0.1f, 0.8f);
    expect_color(tip, 0, 0.3f, 0.4f, 0.6f);
    const float cases[][6] = {{1, 1, 0.35f, 0.225f, 0.1f, 0.8f},
                              {2, 1, 0.55f, 0.625f, 0.7f, 0.8f},
                              {-1, 2, 0, 1, 1, 0.6f},
                              {3, 1, 0.2f, 0.4f, 0.6f, 1.2f * 0.3333f * 0.8f},
                              {4, 1, 0, 0, 0, 0}};
    for (const auto& c : cases) {
        hp.light_model = int(c[0]);
        SCOPED_TRACE(c[0]);
        const hair_params* p = c[0] < 0 ? nullptr : &hp;
        expect_color(motion_blur_pnt(f, p, 0, 0, 0, 0, int(c[1])), c[2], c[3], c[4], c[5]);
    }
    defs.shadows.shadow_pass = 1;
    for (int model : {0, 1, 2, 3, 9}) {
        SCOPED_TRACE(model);
        expect_color(hair_vertex_color(f.attr1, model, {1, 1, 1, 1}, {1, 1, 1, 1}), 0, 0, 0, 1);
    }
}
