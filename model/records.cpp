#include "records.h"

void releaseModelArrays(tModel& model) {
    for (int i = 0; i < model.objectCount && i < int(model.objects.size()); i++) {
        t3DObject& object = model.objects[i];
        delete[] object.pTriangles;
        delete[] object.pVertexNormals;
        delete[] object.pVertices;
        delete[] object.pTexVertices;
    }
}
