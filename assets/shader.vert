#version 330 core
// Passes the full-screen quad through; the fragment stage computes the picture.

in vec2 vertex;

void main()
{
    gl_Position = vec4(vertex.x, vertex.y, 0.0, 1.0);
}
