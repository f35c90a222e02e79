#version 410 core
// A fragment stage that cannot compile: it writes to an output it never declares.

void main()
{
    missing_color = vec4(1.0);
}
