#version 330 core
// The compositor builds one program per sampling by defining one of SAMPLING_RGBA_PREMULTIPLIED,
// SAMPLING_RGBA_STRAIGHT, SAMPLING_YUV, SAMPLING_YUVA or SAMPLING_NV12 after the version line, and for
// the YUV ones one per colour matrix and range, given as the constants YUV_MATRIX (mat3) and YUV_OFFSET
// (vec3): constants rather than uniforms, since a software rasteriser cannot fold uniforms away.
// Output is always premultiplied colour times the opacity.
in vec2 v_texCoord;
out vec4 fragColor;

uniform sampler2D u_plane0;
uniform sampler2D u_plane1;
uniform sampler2D u_plane2;
uniform sampler2D u_plane3;
uniform float u_opacity;

void main() {
    vec4 c;
#if defined(SAMPLING_RGBA_STRAIGHT)
    c = texture(u_plane0, v_texCoord);
    c.rgb *= c.a;
#elif defined(SAMPLING_YUV) || defined(SAMPLING_YUVA) || defined(SAMPLING_NV12)
    vec3 yuv;
    yuv.x = texture(u_plane0, v_texCoord).r;
#if defined(SAMPLING_NV12)
    yuv.yz = texture(u_plane1, v_texCoord).rg;
#else
    yuv.y = texture(u_plane1, v_texCoord).r;
    yuv.z = texture(u_plane2, v_texCoord).r;
#endif
    vec3 rgb = clamp(YUV_MATRIX * (yuv - YUV_OFFSET), 0.0, 1.0);
#if defined(SAMPLING_YUVA)
    float a = texture(u_plane3, v_texCoord).r;
#else
    float a = 1.0;
#endif
    c = vec4(rgb * a, a);
#else
    c = texture(u_plane0, v_texCoord);
#endif
    fragColor = c * u_opacity;
}
