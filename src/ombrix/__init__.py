"""ombrix: 3-D data processing for point clouds and triangle meshes."""
