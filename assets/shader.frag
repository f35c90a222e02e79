#version 410 core
// Colours each pixel: a dark blue gradient, two drifting wavy bands and the swaying logo.

uniform float fGlobalTime;
uniform vec2 v2Resolution;
uniform sampler2D texTex5;

layout(location = 0) out vec4 out_color;

// 1.0 strictly inside a band of half-height thickness around y = 0, else 0.0.
float hline(float y, float thickness)
{
    return 1.0 - step(thickness, abs(y));
}

void main()
{
    vec2 uv2 = vec2(gl_FragCoord.x / v2Resolution.x, gl_FragCoord.y / v2Resolution.y);

    // Centred, y from -0.5 to 0.5, x measured in window heights.
    vec2 uv = vec2(gl_FragCoord.x / v2Resolution.x, gl_FragCoord.y / v2Resolution.y);
    uv -= 0.5;
    uv /= vec2(v2Resolution.y / v2Resolution.x, 1.0);

    vec3 dark = vec3(0.0, 0.0, 0.03);
    vec3 light = vec3(0.2, 0.2, 0.4);
    vec3 c = mix(dark, light, 0.5 - abs(uv.y));

    float l1 = hline(uv.y + 0.1 * sin(uv.x + fGlobalTime), 0.1);
    float l2 = hline(uv.y + 0.1 * cos(uv.x + fGlobalTime), 0.1);
    c += l1 * vec3(0.2, 0.2, 0.4);
    c += l2 * vec3(0.1, 0.1, 0.3);

    // The image's top row is at texture coordinate 0, hence the flipped y.
    vec4 logo = texture(texTex5, vec2(uv2.x + 0.15 * sin(fGlobalTime), 1.0 - uv2.y));
    c += logo.rgb;

    out_color = vec4(c, 1.0);
}
