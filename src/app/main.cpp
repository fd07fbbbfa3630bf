// Olvanta: a viewer for triangle meshes in the Vertex/Face text format.
#include "app/startup.h"

int main(int argc, char** argv)
{
    return run_viewer(&argc, argv);
}
